#include "support/testfiles.h"
#include "support/testregistry.h"
#include "support/windowfixture.h"

#include "engine/addfolder.h"
#include "filelist/listview.h"
#include "engine/settingsstore.h"

#include <QFile>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

namespace {

QStringList Prefixed(const QString &root, const QStringList &relativePaths)
{
    QStringList paths;
    for (const QString &relative : relativePaths)
        paths << root + "/" + relative;
    return paths;
}

// Presses "Add All EPS File(s) In Folder" answering the prompt and the picker.
void Scan(WindowFixture &window, const QString &extension, const QString &folder)
{
    window.prompts.inputAnswers.enqueue(extension);
    window.prompts.folderAnswers.enqueue(folder);
    QTest::mouseClick(window.form->PushButton3, Qt::LeftButton);
}

QString Stored(const WindowFixture &window, const QString &key)
{
    return QSettings(window.settingsFile(), QSettings::IniFormat).value("Pellucor/" + key, "<missing>").toString();
}

} // namespace

// The window's "Add All EPS File(s) In Folder", through the walk to the list.
class FolderScanTest : public QObject
{
    Q_OBJECT

private slots:
    void extensions_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("added");
        QTest::newRow("eps ignores case")
            << "eps" << QStringList{"a.eps", "b.EPS", "c.txt"} << QStringList{"a.eps", "b.EPS"};
        QTest::newRow("star takes all but ~ and hidden archive files")
            << "*" << QStringList{"a.eps", "b.txt", "noext", "~temp.eps", ".hidden.eps"}
            << QStringList{"a.eps", "b.txt", "noext"};
        QTest::newRow("a leading dot matches nothing") << ".eps" << QStringList{"a.eps", "b.eps"} << QStringList{};
        QTest::newRow("txt") << "txt" << QStringList{"a.eps", "notes.TXT"} << QStringList{"notes.TXT"};
    }
    void extensions()
    {
        QFETCH(QString, extension);
        QFETCH(QStringList, files);
        QFETCH(QStringList, added);
        WindowFixture window;
        const QString root = window.path("tree");
        MakeFiles(root, files);
        Scan(window, extension, root);
        QCOMPARE(Entries(*window.form->ListView1), Prefixed(root, added));
        QVERIFY(window.prompts.messages().isEmpty());
        QCOMPARE(window.form->MousePointer(), PointerKind::Default);
    }

    void promptAndPicker()
    {
        WindowFixture window([](WindowFixture &) { SettingsStore::WriteSetting(SettingsStore::LastFolder, "/last"); });
        const QString root = window.path("tree");
        MakeFiles(root, {"a.eps"});
        Scan(window, "eps", root + "/");
        const auto prompt = window.prompts.shown.at(0);
        QCOMPARE(prompt.kind, QString("input"));
        QCOMPARE(prompt.text, QString("Enter file extension to load:\r\r"
                                      "(* for all files, txt for all txt files, doc for all doc files, etc.)"));
        QCOMPARE(prompt.title, QString("Pellucor"));
        QCOMPARE(prompt.defaultText, QString("eps"));
        const auto picker = window.prompts.shown.at(1);
        QCOMPARE(picker.text, QString("Please select folder:"));
        QCOMPARE(picker.defaultText, QString("/last"));
        QCOMPARE(Stored(window, "Extension"), QString("eps"));
        QCOMPARE(Stored(window, "LastFolder"), root + "/");
        // A chosen folder with its own separator still gives single separators.
        QCOMPARE(Entries(*window.form->ListView1), QStringList{root + "/a.eps"});
    }

    void cancelAtThePromptSavesNothing()
    {
        WindowFixture window;
        MakeFiles(window.path("tree"), {"a.eps"});
        Scan(window, "", window.path("tree"));
        QCOMPARE(window.prompts.shown.size(), 1); // no picker
        QCOMPARE(Stored(window, "Extension"), QString("<missing>"));
        QCOMPARE(window.form->ListView1->Count(), 0);
    }

    void cancelInThePickerKeepsLastFolder()
    {
        WindowFixture window([](WindowFixture &) { SettingsStore::WriteSetting(SettingsStore::LastFolder, "/last"); });
        Scan(window, "txt", "");
        QCOMPARE(Stored(window, "Extension"), QString("txt"));
        QCOMPARE(Stored(window, "LastFolder"), QString("/last"));
        QCOMPARE(window.form->ListView1->Count(), 0);
        QCOMPARE(window.form->MousePointer(), PointerKind::Default);
    }

    void treeIsTakenLevelByLevel()
    {
        WindowFixture window;
        const QString root = window.path("A");
        MakeFiles(root, {"a1", "a2", "B/b1", "C/c1", "B/D/d1"});
        Scan(window, "*", root);
        QCOMPARE(Entries(*window.form->ListView1), Prefixed(root, {"a1", "a2", "B/b1", "C/c1", "B/D/d1"}));
    }

    void hiddenFoldersAreEntered()
    {
        WindowFixture window;
        const QString root = window.path("A");
        MakeFiles(root, {"a.eps", ".config/b.eps"});
        Scan(window, "eps", root);
        QCOMPARE(Entries(*window.form->ListView1), Prefixed(root, {"a.eps", ".config/b.eps"}));
    }

    void linkLoopEnds()
    {
        WindowFixture window;
        const QString root = window.path("A");
        MakeFiles(root, {"a.eps", "B/b.eps"});
        QVERIFY(QFile::link(root, root + "/B/back"));
        QVERIFY(QFile::link(root + "/B", root + "/again"));
        Scan(window, "eps", root);
        QCOMPARE(Entries(*window.form->ListView1), Prefixed(root, {"a.eps", "B/b.eps"}));
    }

    void unusualFolderNamesAreSkipped_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("skipped");
        QTest::newRow("U+0080") << QString(QChar(0x80)) + "x" << true;
        QTest::newRow("U+009F") << "x" + QString(QChar(0x9F)) << true;
        QTest::newRow("DEL") << QString("a") + QChar(0x7F) << true;
        QTest::newRow("a tab") << QString("a\tb") << true;
        QTest::newRow("a question mark") << QString("why?") << true;
        QTest::newRow("the euro sign") << QString("price €") << false;
        QTest::newRow("non-Latin letters") << QString("文件 папка") << false;
    }
    void unusualFolderNamesAreSkipped()
    {
        QFETCH(QString, name);
        QFETCH(bool, skipped);
        QCOMPARE(AddFolder::HasUnusualCharacters(name), skipped);
        WindowFixture window;
        const QString root = window.path("A");
        MakeFiles(root, {"a.eps", name + "/b.eps", name + "/deeper/c.eps"});
        Scan(window, "eps", root);
        const QStringList expected = skipped ? Prefixed(root, {"a.eps"})
                                             : Prefixed(root, {"a.eps", name + "/b.eps", name + "/deeper/c.eps"});
        QCOMPARE(Entries(*window.form->ListView1), expected);
    }

    void namesThatAreNotUtf8AreListedAsSuch()
    {
        WindowFixture window;
        const QString root = window.path("A");
        MakeFiles(root, {"a.eps"});
        const QByteArray native = QFile::encodeName(root);
        const NamedTreeRemover remover(native);
        WriteBytesNamed(native + "/caf\xe9.eps", "Latin-1");         // café.eps in Latin-1
        WriteBytesNamed(native + "/caf\xef\xbf\xbd.eps", "the twin"); // its text, U+FFFD, in UTF-8
        WriteBytesNamed(native + "/.h\xe9.eps", "hidden");            // left out, as any hidden file is
        MakeFolderNamed(native + "/d\xe9j\xe0");                     // déjà: its files cannot be listed
        WriteBytesNamed(native + "/d\xe9j\xe0/b.eps", "inside");
        Scan(window, "eps", root);
        const QString shown = QString::fromUtf8("caf\xef\xbf\xbd.eps");
        QCOMPARE(Entries(*window.form->ListView1),
                 Prefixed(root, {"a.eps", shown, shown, QString::fromUtf8("d\xef\xbf\xbdj\xef\xbf\xbd")}));
        // The Latin-1 name's bytes sort first; the twin names itself.
        using enum FileSystem::NameFidelity;
        QCOMPARE(Fidelities(*window.form->ListView1),
                 (QList<int>{int(Faithful), int(UnfaithfulFile), int(Faithful), int(UnfaithfulFolder)}));
        QVERIFY(window.prompts.messages().isEmpty());
    }

    void unreadableFolderIsDroppedAndTheScanGoesOn()
    {
        PELLUCOR_AS_ORDINARY_USER();
        WindowFixture window;
        const QString root = window.path("A");
        MakeFiles(root, {"a.eps", "B/b.eps", "B/inner/x.eps", "C/c.eps"});
        QVERIFY(QFile::setPermissions(root + "/B", QFileDevice::WriteOwner)); // no read, no entry
        Scan(window, "eps", root);
        QFile::setPermissions(root + "/B", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QCOMPARE(Entries(*window.form->ListView1), Prefixed(root, {"a.eps", "C/c.eps"}));
        QVERIFY(window.prompts.messages().isEmpty());
    }

    void hiddenReadOnlyFilesAreAppended()
    {
        PELLUCOR_AS_ORDINARY_USER();
        WindowFixture window;
        const QString root = window.path("A");
        MakeFiles(root, {".hidden.eps", ".readonly.eps", "plain.eps"});
        QFile::setPermissions(root + "/.readonly.eps", QFileDevice::ReadOwner); // hidden, read-only, archive: 35
        Scan(window, "eps", root);
        QCOMPARE(Entries(*window.form->ListView1), Prefixed(root, {".readonly.eps", "plain.eps"}));
    }

    void removalsWaitWhileTheWalkRuns()
    {
        WindowFixture window;
        const QString root = window.path("A");
        MakeFiles(root, {"a.eps", "B/b.eps"});
        window.append({"/kept.eps"});
        window.form->ListView1->Select(1);
        bool sawBusy = false;
        QTimer::singleShot(0, [&] { // arrives while the walk lets events through
            sawBusy = window.form->MousePointer() == PointerKind::Busy;
            QTest::keyClick(window.form->ListView1, Qt::Key_Delete);
        });
        Scan(window, "eps", root);
        QVERIFY(sawBusy);
        QCOMPARE(Entries(*window.form->ListView1), QStringList{"/kept.eps"} + Prefixed(root, {"a.eps", "B/b.eps"}));
    }

    void closingTheWindowEndsTheScan()
    {
        WindowFixture window;
        const QString root = window.path("A");
        MakeFiles(root, {"a.eps", "B/b.eps", "C/c.eps", "C/D/d.eps"});
        int yieldsAfterClosing = -1;
        QTimer tick; // fires once each time the walk lets events run
        tick.setInterval(0);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            if (yieldsAfterClosing++ < 0)
                window.form->close();
        });
        tick.start();
        Scan(window, "eps", root);
        tick.stop();
        QCOMPARE(yieldsAfterClosing, 0);
        QCOMPARE(window.form->ListView1->Count(), 0);
    }

    void twentyThousandFilesWithTheWindowRepainting()
    {
        WindowFixture window;
        const QString root = window.path("big");
        QStringList files;
        for (int folder = 0; folder < 200; ++folder)
            for (int file = 0; file < 100; ++file)
                files << QString("d%1/sub/f%2.eps").arg(folder, 3, 10, QChar('0')).arg(file, 2, 10, QChar('0'));
        MakeFiles(root, files);
        int paintsWhileBusy = 0;
        struct PaintCounter : QObject
        {
            Form1 *form;
            int *count;
            bool eventFilter(QObject *, QEvent *event) override
            {
                if (event->type() == QEvent::Paint && form->MousePointer() == PointerKind::Busy)
                    ++*count;
                return false;
            }
        } counter;
        counter.form = window.form.get();
        counter.count = &paintsWhileBusy;
        window.form->installEventFilter(&counter);
        QTimer::singleShot(0, [&] { window.form->update(); }); // something to repaint once the walk yields
        Scan(window, "eps", root);
        window.form->removeEventFilter(&counter);
        QCOMPARE(window.form->ListView1->Count(), 20000);
        QCOMPARE(window.form->ListView1->Text(1), root + "/d000/sub/f00.eps");
        QCOMPARE(window.form->ListView1->Text(20000), root + "/d199/sub/f99.eps");
        QVERIFY(paintsWhileBusy > 0);
    }
};

PELLUCOR_REGISTER_TEST(FolderScanTest, unit)
#include "tst_folderscan.moc"
