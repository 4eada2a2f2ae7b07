#include "support/testfiles.h"
#include "support/testregistry.h"
#include "support/windowfixture.h"

#include "filelist/dropadder.h"
#include "filelist/listview.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

namespace {

QMimeData *FileList(const QStringList &paths)
{
    auto *data = new QMimeData;
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls << QUrl::fromLocalFile(path);
    data->setUrls(urls);
    return data;
}

// Drags `data` over the list and lets go, as a file manager would; false
// when the list refused the drag.
bool Drop(ListView &list, QMimeData *data)
{
    const QPoint where(20, 20);
    QDragEnterEvent enter(where, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list.viewport(), &enter);
    if (!enter.isAccepted())
        return false;
    QDragMoveEvent move(where, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list.viewport(), &move);
    if (!move.isAccepted())
        return false;
    QDropEvent drop(where, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list.viewport(), &drop);
    return true;
}

} // namespace

class DropTest : public QObject
{
    Q_OBJECT

private slots:
    void textWithoutFilesIsRefused()
    {
        WindowFixture window;
        std::unique_ptr<QMimeData> text(new QMimeData);
        text->setText("some selected text");
        QVERIFY(!Drop(*window.form->ListView1, text.get()));
        std::unique_ptr<QMimeData> web(new QMimeData);
        web->setUrls({QUrl("https://www.example.com/a.eps")});
        QVERIFY(!Drop(*window.form->ListView1, web.get()));
        QCOMPARE(window.form->ListView1->Count(), 0);
    }

    void dropsAreAnsweredAsCopies()
    {
        // A file manager offering everything, Shift held: it proposes a move,
        // and a source that moves by copy and delete would lose the files.
        WindowFixture window;
        const QString root = window.path("d");
        MakeFiles(root, {"a.eps"});
        std::unique_ptr<QMimeData> data(FileList({root + "/a.eps"}));
        const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
        const QPoint where(20, 20);
        QWidget *viewport = window.form->ListView1->viewport();
        QDragEnterEvent enter(where, offered, data.get(), Qt::LeftButton, Qt::ShiftModifier);
        QDragMoveEvent move(where, offered, data.get(), Qt::LeftButton, Qt::ShiftModifier);
        QDropEvent drop(where, offered, data.get(), Qt::LeftButton, Qt::ShiftModifier);
        QCOMPARE(drop.proposedAction(), Qt::MoveAction);
        for (QDropEvent *event : std::initializer_list<QDropEvent *>{&enter, &move, &drop}) {
            QApplication::sendEvent(viewport, event);
            QVERIFY(event->isAccepted());
            QCOMPARE(event->dropAction(), Qt::CopyAction);
        }
        QCOMPARE(Entries(*window.form->ListView1), QStringList{root + "/a.eps"});
        QVERIFY(QFileInfo::exists(root + "/a.eps"));
    }

    void whatCountsAsAFolder_data()
    {
        QTest::addColumn<QString>("relative"); // below the fixture's folder; "/" is the root itself
        QTest::addColumn<bool>("folder");
        QTest::newRow("a folder") << "F" << true;
        QTest::newRow("a folder with a separator") << "F/" << true;
        QTest::newRow("a hidden folder") << ".F" << true;
        QTest::newRow("the root of the file system") << "/" << true;
        QTest::newRow("a file") << "F/a.eps" << false;
        QTest::newRow("a hidden file") << ".a.eps" << false;
        QTest::newRow("a path that is not there") << "gone" << false;
    }
    void whatCountsAsAFolder()
    {
        QFETCH(QString, relative);
        QFETCH(bool, folder);
        QTemporaryDir root;
        MakeFiles(root.path(), {"F/a.eps", ".F/b.eps", ".a.eps"});
        QCOMPARE(IsDroppedFolder(relative == "/" ? relative : root.filePath(relative)), folder);
    }

    void filesAreAppendedAsTheyAre()
    {
        WindowFixture window;
        const QString root = window.path("d");
        MakeFiles(root, {"notes.txt", "a.eps", "~odd.eps"});
        std::unique_ptr<QMimeData> first(FileList({root + "/notes.txt", root + "/a.eps"}));
        std::unique_ptr<QMimeData> second(FileList({root + "/a.eps", root + "/~odd.eps", root + "/gone.eps"}));
        QVERIFY(Drop(*window.form->ListView1, first.get()));
        QVERIFY(Drop(*window.form->ListView1, second.get()));
        QCOMPARE(Entries(*window.form->ListView1), (QStringList{root + "/notes.txt", root + "/a.eps", root + "/a.eps",
                                                                root + "/~odd.eps", root + "/gone.eps"}));
    }

    void aFolderGivesEveryFileOfItsTree()
    {
        WindowFixture window;
        const QString root = window.path("F");
        MakeFiles(root, {"a.eps", "b.txt", "~x.eps", ".hidden", "sub/c.pdf"});
        std::unique_ptr<QMimeData> data(FileList({root}));
        QVERIFY(Drop(*window.form->ListView1, data.get()));
        QCOMPARE(Entries(*window.form->ListView1),
                 (QStringList{root + "/a.eps", root + "/b.txt", root + "/sub/c.pdf"}));
        QVERIFY(window.prompts.shown.isEmpty()); // nothing asked, nothing stored
        QVERIFY(!QFileInfo::exists(window.settingsFile()));
    }

    void fileFolderFileKeepTheirOrder()
    {
        WindowFixture window;
        const QString root = window.path("r");
        MakeFiles(root, {"one.eps", "two.eps", "F/f1.eps", "F/G/g1.eps", "B/b1.eps", ".H/h1.eps"});
        std::unique_ptr<QMimeData> data(FileList({root + "/one.eps", root + "/F", root + "/two.eps", root + "/B",
                                                  root + "/.H"}));
        QVERIFY(Drop(*window.form->ListView1, data.get()));
        QCOMPARE(Entries(*window.form->ListView1),
                 (QStringList{root + "/one.eps", root + "/F/f1.eps", root + "/F/G/g1.eps", root + "/two.eps",
                              root + "/B/b1.eps", root + "/.H/h1.eps"}));
    }

    void namesThatAreNotUtf8AreDroppedAsSuch()
    {
        WindowFixture window;
        const QString root = window.path("r");
        MakeFiles(root, {"F/plain.eps"});
        const QByteArray native = QFile::encodeName(root);
        const NamedTreeRemover remover(native);
        WriteBytesNamed(native + "/caf\xe9.eps", "Latin-1");
        WriteBytesNamed(native + "/caf\xef\xbf\xbd.eps", "the twin");
        WriteBytesNamed(native + "/F/x\xe9.eps", "Latin-1 in a folder");
        MakeFolderNamed(native + "/d\xe9j\xe0");
        WriteBytesNamed(native + "/d\xe9j\xe0/b.eps", "inside");
        // A file manager's file list: each name's bytes percent-encoded.
        QByteArray uris;
        for (const QByteArray &name :
             {QByteArray("caf\xe9.eps"), QByteArray("caf\xef\xbf\xbd.eps"), QByteArray("F"), QByteArray("d\xe9j\xe0")})
            uris += "file://" + (native + '/' + name).toPercentEncoding("/") + "\r\n";
        std::unique_ptr<QMimeData> data(new QMimeData);
        data->setData("text/uri-list", uris);
        QVERIFY(Drop(*window.form->ListView1, data.get()));
        const QString shown = QString::fromUtf8("caf\xef\xbf\xbd.eps");
        QCOMPARE(Entries(*window.form->ListView1),
                 (QStringList{root + "/" + shown, root + "/" + shown, root + "/F/plain.eps",
                              root + QString::fromUtf8("/F/x\xef\xbf\xbd.eps"),
                              root + QString::fromUtf8("/d\xef\xbf\xbdj\xef\xbf\xbd")}));
        using enum FileSystem::NameFidelity;
        QCOMPARE(Fidelities(*window.form->ListView1), (QList<int>{int(UnfaithfulFile), int(Faithful), int(Faithful),
                                                                  int(UnfaithfulFile), int(UnfaithfulFolder)}));
    }

    void dropsArriveWhileBusy()
    {
        WindowFixture window;
        window.form->SetMousePointer(PointerKind::Busy);
        const QString root = window.path("r");
        MakeFiles(root, {"a.eps"});
        std::unique_ptr<QMimeData> data(FileList({root + "/a.eps"}));
        QVERIFY(Drop(*window.form->ListView1, data.get()));
        QCOMPARE(window.form->ListView1->Count(), 1);
    }

    void tenThousandEntries()
    {
        WindowFixture window;
        ListView &list = *window.form->ListView1;
        const QString root = window.path("many");
        QStringList files;
        for (int i = 0; i < 10000; ++i)
            files << QString("d%1/f%2.eps").arg(i / 250, 2, 10, QChar('0')).arg(i, 5, 10, QChar('0'));
        MakeFiles(root, files);
        bool eventsRan = false;
        QTimer::singleShot(0, [&] { eventsRan = true; }); // the walk lets the window breathe
        std::unique_ptr<QMimeData> data(FileList({root}));
        QVERIFY(Drop(list, data.get()));
        QVERIFY(eventsRan);
        QCOMPARE(list.Count(), 10000);
        QCOMPARE(list.Text(5000), root + "/" + files.at(4999));

        list.Select(5000);
        QTest::keyClick(&list, Qt::Key_Delete);
        QCOMPARE(list.Count(), 9999);
        QCOMPARE(list.Text(4999), root + "/" + files.at(4998));
        QCOMPARE(list.Text(5000), root + "/" + files.at(5000));
        QVERIFY(!list.ListContains(root + "/" + files.at(4999)));

        QTest::mouseClick(window.form->PushButton6, Qt::LeftButton);
        QCOMPARE(list.Count(), 0);
    }

    void closingTheWindowEndsTheDrop()
    {
        WindowFixture window;
        const QString root = window.path("r");
        MakeFiles(root, {"F/a.eps", "F/G/b.eps", "F/H/c.eps"});
        QTimer::singleShot(0, window.form.get(), [&] { window.form->close(); }); // at the walk's first yield
        std::unique_ptr<QMimeData> data(FileList({root + "/F", root + "/F/a.eps"}));
        QVERIFY(Drop(*window.form->ListView1, data.get()));
        QCOMPARE(window.form->ListView1->Count(), 0);
    }

    void entriesNeverLeaveAsDragData()
    {
        WindowFixture window;
        QVERIFY(!window.form->ListView1->dragEnabled());
    }
};

PELLUCOR_REGISTER_TEST(DropTest, unit)
#include "tst_drop.moc"
