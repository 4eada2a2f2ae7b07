#include "engine/addfolder.h"

#include "common/errorreport.h"

#include "support/scriptedprompts.h"
#include "support/testfiles.h"
#include "support/testregistry.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// The walk itself; what the window's folder scan makes of it is in
// tests/window/tst_folderscan.cpp.
class FolderWalkTest : public QObject
{
    Q_OBJECT

private slots:
    void manyFilesInOneFolder()
    {
        QTemporaryDir root;
        QStringList names;
        for (int i = 0; i < 251; ++i)
            names << QString("f%1.eps").arg(i, 3, 10, QChar('0'));
        MakeFiles(root.path(), names + QStringList{"other.txt"});
        const AddFolder::FileNameArray array = AddFolder::ListFilesInFolder(root.path(), "*.eps");
        QCOMPARE(array.LBound(), 1);
        QCOMPARE(array.UBound(), 251);
        QCOMPARE(array.Capacity(), 251);
        QCOMPARE(array[1], QString("f000.eps"));
        QCOMPARE(array[251], QString("f250.eps"));
        const AddFolder::FileNameArray none = AddFolder::ListFilesInFolder(root.path(), "*.pdf");
        QCOMPARE(none.LBound(), 0);
        QCOMPARE(none.UBound(), 0);
        QCOMPARE(none[0], QString());
    }

    void aFolderGoneWhenItsAttributesAreReadIsReportedThere()
    {
        // The walk's last yield (line 156) comes right before the attributes
        // of the last folder found are read (158): count the yields once,
        // then remove that folder at the last one.
        ScriptedPrompts prompts;
        QTemporaryDir root;
        const QString a = root.filePath("A") + "/";
        MakeFiles(root.path(), {"A/B/b.eps"});
        int yields = 0;
        int removeAt = 0;
        QTimer tick;
        tick.setInterval(0);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            if (++yields == removeAt)
                QDir(a + "B").removeRecursively();
        });
        tick.start();
        QStringList folders{a};
        AddFolder::GetSubDirectories2016(folders, true);
        QCOMPARE(folders, (QStringList{a, a + "B/"}));
        removeAt = yields;
        yields = 0;
        folders = {a};
        AddFolder::GetSubDirectories2016(folders, true);
        QVERIFY(!QFileInfo::exists(a + "B"));
        const auto messages = prompts.messages();
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages.first().text.contains("\r\n" + procedureLocation("AddFolder", "GetSubDirectories2016")
                                                + "at line 158\r\r"),
                 qPrintable(messages.first().text));
        QCOMPARE(folders, (QStringList{a, a + "B/"})); // resumed with line 160
    }
};

PELLUCOR_REGISTER_TEST(FolderWalkTest, unit)
#include "tst_addfolder.moc"
