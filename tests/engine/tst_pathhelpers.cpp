#include "engine/pathhelpers.h"

#include "common/filesystem.h"
#include "common/platform.h"
#include "common/runtimeerror.h"

#include "support/testfiles.h"
#include "support/testregistry.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

class PathHelpersTest : public QObject
{
    Q_OBJECT

private slots:
    void fileNameOfPath_data()
    {
        QTest::addColumn<int>("flavour");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        const int w = int(PathFlavour::Windows), l = int(PathFlavour::Linux);
        QTest::newRow("windows: file in a folder") << w << R"(C:\a\b.eps)" << "b.eps";
        QTest::newRow("windows: bare name") << w << "b.eps" << "b.eps";
        QTest::newRow("windows: folder with separator") << w << R"(C:\a\)" << "";
        QTest::newRow("windows: empty") << w << "" << "";
        QTest::newRow("windows: slash is no separator") << w << "C:/a/b.eps" << "C:/a/b.eps";
        QTest::newRow("linux: file in a folder") << l << "/home/u/b.eps" << "b.eps";
        QTest::newRow("linux: backslash is part of a name") << l << R"(/home/u/a\b.eps)" << R"(a\b.eps)";
        QTest::newRow("linux: folder with separator") << l << "/home/u/" << "";
    }
    void fileNameOfPath()
    {
        QFETCH(int, flavour);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(FileNameOfPath(path, PathFlavour(flavour)), expected);
    }

    void folderOfPath_data()
    {
        QTest::addColumn<int>("flavour");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        const int w = int(PathFlavour::Windows), l = int(PathFlavour::Linux);
        QTest::newRow("windows: file in a folder") << w << R"(C:\dir\file.eps)" << R"(C:\dir\)";
        QTest::newRow("windows: two levels") << w << R"(C:\a\b.eps)" << R"(C:\a\)";
        QTest::newRow("windows: bare name") << w << "b.eps" << "";
        QTest::newRow("windows: network path") << w << R"(\\srv\x)" << R"(\\srv\)";
        QTest::newRow("windows: empty") << w << "" << "";
        QTest::newRow("linux: file in a folder") << l << "/home/u/x.eps" << "/home/u/";
        QTest::newRow("linux: at the root") << l << "/x.eps" << "/";
        QTest::newRow("linux: bare name") << l << "x.eps" << "";
    }
    void folderOfPath()
    {
        QFETCH(int, flavour);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(FolderOfPath(path, PathFlavour(flavour)), expected);
    }

    void stripExtension_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("one extension") << "file.eps" << "file";
        QTest::newRow("two dots") << "a.b.eps" << "a.b";
        QTest::newRow("trailing dot") << "name." << "name";
        QTest::newRow("no dot") << "file" << "file";
        QTest::newRow("only a leading dot") << ".eps" << ".eps";
        QTest::newRow("doubled dot") << "a..eps" << "a.";
        QTest::newRow("empty") << "" << "";
    }
    void stripExtension()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QCOMPARE(StripExtension(name), expected);
    }

    void normalizePath_data()
    {
        QTest::addColumn<int>("flavour");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        const int w = int(PathFlavour::Windows), l = int(PathFlavour::Linux);
        QTest::newRow("windows: doubled inside") << w << R"(D:\out\\pic.jpg)" << R"(D:\out\pic.jpg)";
        QTest::newRow("windows: network path kept") << w << R"(\\server\share\\x.jpg)" << R"(\\server\share\x.jpg)";
        QTest::newRow("windows: one leading becomes two") << w << R"(\x.jpg)" << R"(\\x.jpg)";
        QTest::newRow("windows: lone separator") << w << R"(\)" << R"(\\)";
        QTest::newRow("windows: empty") << w << "" << "";
        QTest::newRow("windows: nothing to do") << w << R"(C:\a\b.jpg)" << R"(C:\a\b.jpg)";
        QTest::newRow("windows: run of three inside") << w << R"(C:\\\x)" << R"(C:\\x)";
        QTest::newRow("windows: run of four inside") << w << R"(C:\\\\x)" << R"(C:\\x)";
        QTest::newRow("windows: three leading") << w << R"(\\\srv\x)" << R"(\\srv\x)";
        QTest::newRow("linux: doubled inside") << l << "/home/u//x.jpg" << "/home/u/x.jpg";
        QTest::newRow("linux: leading run") << l << "//x" << "/x";
        QTest::newRow("linux: run of three") << l << "/a///b.jpg" << "/a/b.jpg";
        QTest::newRow("linux: trailing run") << l << "/out//" << "/out/";
        QTest::newRow("linux: relative") << l << "a//b" << "a/b";
        QTest::newRow("linux: backslashes untouched") << l << R"(/a\\b)" << R"(/a\\b)";
        QTest::newRow("linux: empty") << l << "" << "";
    }
    void normalizePath()
    {
        QFETCH(int, flavour);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(NormalizePath(path, PathFlavour(flavour)), expected);
    }

    void positionsBeyondShortRangeOverflow()
    {
        const QString longFolder = QString(40000, 'a');
        QCOMPARE(ErrorNumberOf([&] { FolderOfPath(longFolder + R"(\x.eps)", PathFlavour::Windows); }), 6);
        QCOMPARE(ErrorNumberOf([&] { FolderOfPath(longFolder + "/x.eps", PathFlavour::Linux); }), 6);
        QCOMPARE(ErrorNumberOf([&] { StripExtension(longFolder + ".eps"); }), 6);
        // The position is what overflows, not the length.
        QCOMPARE(FolderOfPath(R"(C:\)" + longFolder, PathFlavour::Windows), QString(R"(C:\)"));
        QCOMPARE(StripExtension("a.b" + longFolder), QString("a"));
        QCOMPARE(FolderOfPath(longFolder, PathFlavour::Linux), QString());
    }

    void existenceTests()
    {
        QTemporaryDir root;
        WriteBytes(root.filePath("a.eps"), "x");
        QVERIFY(!FolderExists(root.filePath("a.eps")));
        QVERIFY(FolderExists(root.path()));
        QVERIFY(FolderExists(root.path() + "/"));
        QVERIFY(!FolderExists(""));
        QVERIFY(!FolderExists(root.filePath("missing")));
        QVERIFY(FileExists(root.filePath("a.eps")));
        QVERIFY(!FileExists(root.filePath("missing")));
        QVERIFY(!FileExists(""));
    }

    void deleteFileQuietly()
    {
        QTemporaryDir root;
        DeleteFileQuietly(root.filePath("missing")); // returns quietly
        DeleteFileQuietly(root.path());              // a folder is no file: stays, quietly
        QVERIFY(QFileInfo(root.path()).isDir());
        WriteBytes(root.filePath("r.eps"), "x");
        QFile::setPermissions(root.filePath("r.eps"), QFileDevice::ReadOwner);
        DeleteFileQuietly(root.filePath("r.eps"));
        QVERIFY(!QFileInfo::exists(root.filePath("r.eps")));
        QCOMPARE(ErrorNumberOf([&] { FileSystem::ForceDeleteFile(root.filePath("missing")); }), 53);
    }

    void desktopFolderHasExactlyOneTrailingSeparator_data()
    {
        QTest::addColumn<bool>("hasDesktop");
        QTest::newRow("the desktop folder") << true;
        QTest::newRow("no desktop folder: the home folder") << false;
    }
    void desktopFolderHasExactlyOneTrailingSeparator()
    {
        QFETCH(bool, hasDesktop);
        if (Platform::UsesWindowsPaths()) {
            // The desktop is the user's shell folder there, whatever HOME says.
            if (!hasDesktop)
                QSKIP("every Windows user has a desktop folder");
            QString scratch;
            QCOMPARE(GetDesktopFolder(scratch),
                     QDir::toNativeSeparators(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation))
                         + "\\");
            return;
        }
        QTemporaryDir home;
        const QByteArray oldHome = qgetenv("HOME");
        const std::optional<QByteArray> oldConfig = qEnvironmentVariableIsSet("XDG_CONFIG_HOME")
                                                        ? std::optional(qgetenv("XDG_CONFIG_HOME"))
                                                        : std::nullopt;
        qputenv("HOME", QFile::encodeName(home.path()));
        qunsetenv("XDG_CONFIG_HOME"); // no user-dirs.dirs below the new home
        if (hasDesktop)
            QDir(home.path()).mkdir("Desktop");
        QString scratch = "ignored";
        const QString desktop = GetDesktopFolder(scratch);
        qputenv("HOME", oldHome);
        if (oldConfig)
            qputenv("XDG_CONFIG_HOME", *oldConfig);
        const QString expected = hasDesktop ? home.filePath("Desktop") : home.path();
        QCOMPARE(desktop, expected + "/");
        QCOMPARE(scratch.size(), 512);
        QCOMPARE(scratch.indexOf(QChar(0)), expected.size());
    }

    void specialFolderBuffer_data()
    {
        QTest::addColumn<int>("flavour");
        QTest::addColumn<QString>("buffer");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("error");
        const QChar nul(0);
        QTest::newRow("windows desktop") << int(PathFlavour::Windows) << QString(R"(C:\Users\u\Desktop)") + nul + "    "
                                         << R"(C:\Users\u\Desktop\)" << 0;
        QTest::newRow("linux desktop") << int(PathFlavour::Linux) << QString("/home/u/Desktop") + nul + "  "
                                       << "/home/u/Desktop/" << 0;
        QTest::newRow("no path found") << int(PathFlavour::Windows) << QString() << QString() << 5;
        QTest::newRow("no terminator") << int(PathFlavour::Linux) << QString("/home/u") << QString() << 5;
    }
    void specialFolderBuffer()
    {
        QFETCH(int, flavour);
        QFETCH(QString, buffer);
        QFETCH(QString, expected);
        QFETCH(int, error);
        QString result;
        QCOMPARE(ErrorNumberOf([&] { result = PathFromSpecialFolderBuffer(buffer, PathFlavour(flavour)); }), error);
        QCOMPARE(result, expected);
    }
};

PELLUCOR_REGISTER_TEST(PathHelpersTest, unit)
#include "tst_pathhelpers.moc"
