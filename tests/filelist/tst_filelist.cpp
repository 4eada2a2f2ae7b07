#include "support/testregistry.h"
#include "support/windowfixture.h"

#include "filelist/listview.h"

#include <QPushButton>
#include <QTest>

class FileListTest : public QObject
{
    Q_OBJECT

private slots:
    void deleteRemovesTheSelectedEntry_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("Delete") << int(Qt::Key_Delete) << 0 << QStringList{"/a.eps", "/c.eps"};
        QTest::newRow("Shift+Delete") << int(Qt::Key_Delete) << int(Qt::ShiftModifier)
                                      << QStringList{"/a.eps", "/c.eps"};
        QTest::newRow("Ctrl+Delete") << int(Qt::Key_Delete) << int(Qt::ControlModifier)
                                     << QStringList{"/a.eps", "/c.eps"};
        QTest::newRow("Backspace") << int(Qt::Key_Backspace) << 0 << QStringList{"/a.eps", "/b.eps", "/c.eps"};
        QTest::newRow("a letter") << int(Qt::Key_D) << 0 << QStringList{"/a.eps", "/b.eps", "/c.eps"};
    }
    void deleteRemovesTheSelectedEntry()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QStringList, left);
        WindowFixture window;
        ListView *list = window.form->ListView1;
        window.append({"/a.eps", "/b.eps", "/c.eps"});
        list->Select(2);
        QTest::keyClick(list, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(Entries(*list), left);
    }

    void nothingSelectedNothingRemoved()
    {
        WindowFixture window;
        ListView *list = window.form->ListView1;
        QTest::keyClick(list, Qt::Key_Delete); // empty list
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseClick(window.form->PushButton6, Qt::LeftButton);
        QCOMPARE(list->Count(), 0);
        window.append({"/a.eps", "/b.eps"});
        list->clearSelection();
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(list->Count(), 2);
    }

    void doubleClickAnywhereRemovesTheSelectedEntry()
    {
        WindowFixture window;
        ListView *list = window.form->ListView1;
        window.append({"/a.eps", "/b.eps", "/c.eps"});
        list->Select(1);
        // Below the last entry: the selected entry goes all the same.
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, QPoint(5, list->viewport()->height() - 3));
        QCOMPARE(Entries(*list), (QStringList{"/b.eps", "/c.eps"}));
    }

    void clearListEmptiesIt()
    {
        WindowFixture window;
        window.append({"/a.eps", "/a.eps"});
        QTest::mouseClick(window.form->PushButton6, Qt::LeftButton);
        QCOMPARE(window.form->ListView1->Count(), 0);
        QVERIFY(window.prompts.shown.isEmpty());
    }

    void busyMarkerBlocksEveryRemoval()
    {
        WindowFixture window;
        ListView *list = window.form->ListView1;
        window.append({"/a.eps", "/b.eps"});
        window.form->SetMousePointer(PointerKind::Busy);
        list->Select(1);
        QTest::keyClick(list, Qt::Key_Delete);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseClick(window.form->PushButton6, Qt::LeftButton);
        QCOMPARE(list->Count(), 2);
        // Adding is never blocked.
        list->Append("/c.eps");
        QCOMPARE(list->Count(), 3);
    }

    void listContainsComparesExactly()
    {
        WindowFixture window;
        ListView *list = window.form->ListView1;
        QVERIFY(!list->ListContains("c:\\a.eps"));
        list->Append("c:\\a.eps");
        QVERIFY(!list->ListContains("C:\\a.eps"));
        QVERIFY(list->ListContains("c:\\a.eps"));
    }

    void dialogAdds_data()
    {
        QTest::addColumn<QList<QStringList>>("answers");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("cancel") << QList<QStringList>{{}} << QStringList{};
        QTest::newRow("one file") << QList<QStringList>{{"/work/x.eps"}} << QStringList{"/work/x.eps"};
        QTest::newRow("three files in dialog order")
            << QList<QStringList>{{"/work/c.eps", "/work/a.eps", "/work/b.eps"}}
            << QStringList{"/work/c.eps", "/work/a.eps", "/work/b.eps"};
        QTest::newRow("two at the root") << QList<QStringList>{{"/a.eps", "/b.eps"}} << QStringList{"/a.eps", "/b.eps"};
        QTest::newRow("from different folders, each in its own")
            << QList<QStringList>{{"/work/a.eps", "/old/b.eps", "/b.eps"}}
            << QStringList{"/work/a.eps", "/old/b.eps", "/b.eps"};
        QTest::newRow("the same twice") << QList<QStringList>{{"/w/a.eps", "/w/b.eps"}, {"/w/a.eps", "/w/b.eps"}}
                                        << QStringList{"/w/a.eps", "/w/b.eps", "/w/a.eps", "/w/b.eps"};
        QTest::newRow("a name typed for a missing file")
            << QList<QStringList>{{"/nowhere/typed.eps"}} << QStringList{"/nowhere/typed.eps"};
    }
    void dialogAdds()
    {
        QFETCH(QList<QStringList>, answers);
        QFETCH(QStringList, entries);
        WindowFixture window;
        for (const QStringList &answer : answers) {
            window.prompts.fileAnswers.enqueue(answer);
            QTest::mouseClick(window.form->PushButton1, Qt::LeftButton);
        }
        QCOMPARE(Entries(*window.form->ListView1), entries);
        QVERIFY(window.prompts.messages().isEmpty());
        const auto dialog = window.prompts.shown.first();
        QCOMPARE(dialog.kind, QString("files"));
        QCOMPARE(dialog.text, QString("Add File(s) - Hold Ctrl to select multiple files"));
        QCOMPARE(dialog.defaultText, QString("EPS Files (*.eps)|*.eps|"));
    }

    void tooManyFilesPointsToTheFolderScan()
    {
        WindowFixture window;
        QStringList many;
        for (int i = 0; i < 4000; ++i)
            many << QString("/work/a-rather-long-file-name-%1.eps").arg(i);
        window.prompts.fileAnswers.enqueue(many);
        QTest::mouseClick(window.form->PushButton1, Qt::LeftButton);
        QCOMPARE(window.form->ListView1->Count(), 0);
        const auto messages = window.prompts.messages();
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages.first().text, QString("You've selected too many files to add.\r\r"
                                                "Please try adding via the \"Add All\" button."));
        QCOMPARE(messages.first().title, QString("Pellucor"));
        QCOMPARE(messages.first().icon, int(UserPrompts::NoIcon));
    }
};

PELLUCOR_REGISTER_TEST(FileListTest, unit)
#include "tst_filelist.moc"
