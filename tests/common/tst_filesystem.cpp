#include "common/filesystem.h"
#include "common/runtimeerror.h"

#include "support/testfiles.h"
#include "support/testregistry.h"
#include "support/tinyfilesystem.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace FileSystem;

namespace {

QStringList names(const QList<DirectoryEntry> &entries)
{
    QStringList result;
    for (const DirectoryEntry &entry : entries)
        result << entry.name;
    return result;
}

void makeFile(const QString &path, const QByteArray &bytes = "x")
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    WriteBytes(path, bytes);
}

// Restores an environment variable when the test ends.
class EnvironmentGuard
{
public:
    explicit EnvironmentGuard(const char *name)
        : m_name(name), m_wasSet(qEnvironmentVariableIsSet(name)), m_value(qgetenv(name))
    {
    }
    ~EnvironmentGuard()
    {
        if (m_wasSet)
            qputenv(m_name, m_value);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_wasSet;
    QByteArray m_value;
};

} // namespace

class FileSystemTest : public QObject
{
    Q_OBJECT

private slots:
    void attributes_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("expected");
        QTest::newRow("plain file") << "a.eps" << int(Archive);
        QTest::newRow("hidden file") << ".a.eps" << int(Archive | Hidden);
        QTest::newRow("folder") << "dir" << int(Directory);
        QTest::newRow("folder with trailing separator") << "dir/" << int(Directory);
        QTest::newRow("hidden folder") << ".dir" << int(Directory | Hidden);
        QTest::newRow("link to a folder") << "dirlink" << LinkedFolderAttributes;
        QTest::newRow("link to a folder, trailing separator") << "dirlink/" << LinkedFolderAttributes;
        QTest::newRow("link to a file is followed") << "filelink" << int(Archive);
    }
    void attributes()
    {
        QFETCH(QString, entry);
        QFETCH(int, expected);
        QTemporaryDir root;
        makeFile(root.filePath("a.eps"));
        makeFile(root.filePath(".a.eps"));
        QDir(root.path()).mkpath("dir");
        QDir(root.path()).mkpath(".dir");
        QFile::link(root.filePath("dir"), root.filePath("dirlink"));
        QFile::link(root.filePath("a.eps"), root.filePath("filelink"));
        QCOMPARE(FileAttributes(root.path() + u'/' + entry), expected);
    }

    void readOnlyFileCarriesTheReadOnlyBit()
    {
        if (RunningAsRoot())
            QSKIP("root may write to every file, so nothing is read-only for it");
        QTemporaryDir root;
        makeFile(root.filePath("r.eps"));
        QFile::setPermissions(root.filePath("r.eps"), QFileDevice::ReadOwner);
        QCOMPARE(FileAttributes(root.filePath("r.eps")), int(Archive | ReadOnly));
    }

    void attributesOfMissingPathsAreAnError()
    {
        QTemporaryDir root;
        QCOMPARE(ErrorNumberOf([&] { FileAttributes(root.filePath("missing")); }), 53);
        QFile::link(root.filePath("nowhere"), root.filePath("dangling"));
        QCOMPARE(ErrorNumberOf([&] { FileAttributes(root.filePath("dangling")); }), 53);
    }

    void listDirectory_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<int>("selection");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("extension ignores case") << "*.eps" << 0 << QStringList{"a.eps", "b.EPS"};
        QTest::newRow("hidden files on request")
            << "*.eps" << ListHiddenAndSystem << QStringList{".h.eps", "a.eps", "b.EPS"};
        QTest::newRow("star dot star takes names without a dot")
            << "*.*" << 0 << QStringList{"a.eps", "b.EPS", "c.txt", "noext"};
        QTest::newRow("folders on request") << "*.eps" << int(Directory) << QStringList{"a.eps", "b.EPS", "sub.eps"};
        QTest::newRow("question mark is one character") << "?.txt" << 0 << QStringList{"c.txt"};
        QTest::newRow("a leading dot matches nothing here") << "*..eps" << 0 << QStringList{};
        QTest::newRow("an exact name") << "C.TXT" << 0 << QStringList{"c.txt"};
    }
    void listDirectory()
    {
        QFETCH(QString, pattern);
        QFETCH(int, selection);
        QFETCH(QStringList, expected);
        QTemporaryDir root;
        for (const char *name : {"a.eps", "b.EPS", "c.txt", "noext", ".h.eps"})
            makeFile(root.filePath(name));
        QDir(root.path()).mkpath("sub.eps");
        QCOMPARE(names(ListDirectory(root.path(), pattern, selection)), expected);
    }

    void wildcard_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("matches");
        QTest::newRow("star in the middle") << "a*b" << "aXXb" << true;
        QTest::newRow("star needs backtracking") << "*ab" << "aabab" << true;
        QTest::newRow("suffix must end the name") << "*.eps" << "x.eps.bak" << false;
        QTest::newRow("case folded") << "*.Eps" << "X.ePS" << true;
        QTest::newRow("question mark needs a character") << "a?" << "a" << false;
        QTest::newRow("star matches nothing too") << "a*" << "a" << true;
        QTest::newRow("brackets are plain characters") << "[a].eps" << "[a].eps" << true;
        QTest::newRow("brackets are no class") << "[a].eps" << "a.eps" << false;
        QTest::newRow("non-Latin letters fold") << "*.ЕПС" << "файл.епс" << true;
    }
    void wildcard()
    {
        QFETCH(QString, pattern);
        QFETCH(QString, name);
        QFETCH(bool, matches);
        QCOMPARE(WildcardMatches(pattern, name), matches);
    }

    void copyFileOverwritesAndLeavesNothingElse_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("replaced"); // "file", "link" to a file elsewhere, or "nothing"
        QTest::addColumn<int>("mode");         // of the replaced file, or of the link's target
        QTest::addColumn<int>("expected");     // the new file's; -1: the mode a new file gets
        QTest::addColumn<QString>("how");      // "copy", or "move" the source (of 0600), or "move" one of two names
        // The replaced file's mode stays, though the usual mode of a new file differs.
        QTest::newRow("a short name") << "a.jpg" << "file" << 0600 << 0600 << "copy";
        QTest::newRow("the longest name a file may have") // 255 characters
            << QString(251, 'n') + ".jpg" << "file" << 0600 << 0600 << "copy";
        QTest::newRow("a setuid, setgid and sticky file keeps only its permissions")
            << "a.jpg" << "file" << 07755 << 0755 << "copy";
        QTest::newRow("a link is replaced, its target's mode is not taken")
            << "a.jpg" << "link" << 0600 << -1 << "copy";
        // A staged file that is moved is a new file all the same.
        QTest::newRow("moved, a new file's mode, not its own") << "a.jpg" << "nothing" << 0 << -1 << "move";
        QTest::newRow("moved over a file, that file's mode") << "a.jpg" << "file" << 0640 << 0640 << "move";
        QTest::newRow("a source of two names is copied, never moved")
            << "a.jpg" << "nothing" << 0 << -1 << "move one of two names";
    }
    void copyFileOverwritesAndLeavesNothingElse()
    {
        QFETCH(QString, name);
        QFETCH(QString, replaced);
        QFETCH(int, mode);
        QFETCH(int, expected);
        QFETCH(QString, how);
        QTemporaryDir root;
        const QString source = root.filePath("in/a.eps");
        makeFile(source, "new contents");
        const QString destination = root.filePath("out/" + name);
        QDir().mkpath(root.filePath("out"));
        const QString old = replaced == "link" ? root.filePath("target.jpg") : destination;
        if (replaced != "nothing") {
            makeFile(old, "old contents that are longer");
            QCOMPARE(::chmod(QFile::encodeName(old).constData(), mode_t(mode)), 0);
        }
        if (replaced == "link")
            QVERIFY(QFile::link(old, destination));
        if (how == "copy") {
            CopyFile(source, destination);
        } else {
            QCOMPARE(::chmod(QFile::encodeName(source).constData(), 0600), 0);
            if (how != "move")
                QCOMPARE(::link(QFile::encodeName(source).constData(),
                                QFile::encodeName(root.filePath("second")).constData()),
                         0);
            StagedFile staged(source, destination, StagedFile::Source::Moved);
            QCOMPARE(staged.replacesFile(), replaced != "nothing");
            staged.sync();
            staged.commit();
            QCOMPARE(QFileInfo::exists(source), how != "move");
        }
        QCOMPARE(ReadBytes(destination), QByteArray("new contents"));
        if (expected < 0) {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            expected = 0666 & ~int(mask);
        }
        struct stat st{};
        QCOMPARE(::lstat(QFile::encodeName(destination).constData(), &st), 0);
        QVERIFY(S_ISREG(st.st_mode));
        QCOMPARE(int(st.st_mode & 07777), expected);
        QCOMPARE(QDir(root.filePath("out")).entryList(QDir::Files | QDir::Hidden), QStringList{name});
        if (replaced == "link") {
            QCOMPARE(ReadBytes(old), QByteArray("old contents that are longer"));
            QCOMPARE(::stat(QFile::encodeName(old).constData(), &st), 0);
            QCOMPARE(int(st.st_mode & 07777), mode);
        }
    }

    void copyFileFailures_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("says");
        QTest::newRow("missing source") << "in/missing.eps" << "out/a.jpg" << 53 << "File not found";
        QTest::newRow("source is a folder") << "in" << "out/a.jpg" << 75 << "Path/File access error";
        QTest::newRow("destination folder missing") << "in/a.eps" << "nowhere/a.jpg" << 76 << "Path not found";
        QTest::newRow("destination below a file") << "in/a.eps" << "in/a.eps/a.jpg" << 76 << "Path not found";
        QTest::newRow("destination is a folder") << "in/a.eps" << "out" << 75 << "Path/File access error";
        QTest::newRow("a name longer than the file system takes")
            << "in/a.eps" << "out/" + QString(300, 'n') + ".jpg" << 64 << "File name too long";
    }
    void copyFileFailures()
    {
        QFETCH(QString, source);
        QFETCH(QString, destination);
        QFETCH(int, number);
        QFETCH(QString, says);
        QTemporaryDir root;
        makeFile(root.filePath("in/a.eps"), "input");
        makeFile(root.filePath("out/a.jpg"), "old output");
        const QString before = FolderSnapshot(root.path());
        try {
            CopyFile(root.filePath(source), root.filePath(destination));
            QFAIL("the copy did not fail");
        } catch (const RuntimeError &error) {
            QCOMPARE(error.number(), number);
            QVERIFY2(error.description().startsWith(says + ": "), qPrintable(error.description()));
        }
        QCOMPARE(FolderSnapshot(root.path()), before);
    }

    void copyFileOntoAFullDiskKeepsTheOldFileWhole()
    {
        TinyFileSystem disk(64);
        if (!disk.mounted())
            QSKIP(qPrintable(disk.why()));
        QTemporaryDir root;
        makeFile(root.filePath("big.eps"), QByteArray(256 * 1024, 'x'));
        makeFile(disk.path() + "/a.jpg", "old output");
        QCOMPARE(ErrorNumberOf([&] { CopyFile(root.filePath("big.eps"), disk.path() + "/a.jpg"); }), 61);
        QCOMPARE(ReadBytes(disk.path() + "/a.jpg"), QByteArray("old output"));
        QCOMPARE(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"a.jpg"});
    }

    void writingATextFileOntoAFullDiskKeepsTheOldOne()
    {
        TinyFileSystem disk(64);
        if (!disk.mounted())
            QSKIP(qPrintable(disk.why()));
        makeFile(disk.path() + "/eps2jpg.sh", "old script");
        disk.fill();
        QCOMPARE(ErrorNumberOf([&] { WriteTextFile(disk.path() + "/eps2jpg.sh", QString(8192, 'x'), "\n"); }), 61);
        QCOMPARE(ReadBytes(disk.path() + "/eps2jpg.sh"), QByteArray("old script"));
        QCOMPARE(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"eps2jpg.sh", "filler"}));
    }

    void copyFolderCopiesTheTreeAndKeepsProgramsRunnable()
    {
        QTemporaryDir root;
        makeFile(root.filePath("src/gs"), "#!/bin/sh\n");
        QFile::setPermissions(root.filePath("src/gs"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        makeFile(root.filePath("src/lib/deep/font.pfb"), "font");
        makeFile(root.filePath("src/.hidden"), "h");
        QFile::link(root.filePath("src"), root.filePath("src/lib/loop")); // must not recurse
        makeFile(root.filePath("dst/gs"), "stale");

        CopyFolder(root.filePath("src"), root.filePath("dst"));
        QCOMPARE(ReadBytes(root.filePath("dst/gs")), QByteArray("#!/bin/sh\n"));
        QVERIFY(QFileInfo(root.filePath("dst/gs")).isExecutable());
        QCOMPARE(ReadBytes(root.filePath("dst/lib/deep/font.pfb")), QByteArray("font"));
        QCOMPARE(ReadBytes(root.filePath("dst/.hidden")), QByteArray("h"));
        QVERIFY(!QFileInfo::exists(root.filePath("dst/lib/loop")));
        // A second run replaces what the first one copied, read-only source or not.
        CopyFolder(root.filePath("src"), root.filePath("dst"));
        QCOMPARE(ErrorNumberOf([&] { CopyFolder(root.filePath("missing"), root.filePath("dst")); }), 76);
    }

    void deleteFile()
    {
        QTemporaryDir root;
        QCOMPARE(ErrorNumberOf([&] { DeleteFile(root.filePath("missing")); }), 53);
        QDir(root.path()).mkpath("dir");
        QCOMPARE(ErrorNumberOf([&] { DeleteFile(root.filePath("dir")); }), 75);
        QVERIFY(QFileInfo(root.filePath("dir")).isDir());
        makeFile(root.filePath("target"));
        QFile::link(root.filePath("target"), root.filePath("link"));
        DeleteFile(root.filePath("link"));
        QVERIFY(QFileInfo::exists(root.filePath("target")));
        makeFile(root.filePath("readonly"));
        QFile::setPermissions(root.filePath("readonly"), QFileDevice::ReadOwner);
        ForceDeleteFile(root.filePath("readonly"));
        QVERIFY(!QFileInfo::exists(root.filePath("readonly")));
    }

    void privateFolderIsCreatedClosed()
    {
        QTemporaryDir root;
        const QString folder = root.filePath("mine");
        EnsurePrivateFolder(folder);
        struct stat st{};
        QCOMPARE(::stat(QFile::encodeName(folder).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0700);
        EnsurePrivateFolder(folder); // an existing private folder is fine
    }

    void unsafeFoldersAreRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("open to others") << "open";
        QTest::newRow("a link") << "link";
        QTest::newRow("a file") << "file";
        QTest::newRow("below a file") << "below file";
        QTest::newRow("another user's") << "foreign";
    }
    void unsafeFoldersAreRefused()
    {
        QFETCH(QString, kind);
        QTemporaryDir root;
        QString folder = root.filePath("f");
        if (kind == "open") {
            QDir().mkpath(folder);
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                              | QFileDevice::WriteOther | QFileDevice::ExeOther
                                              | QFileDevice::ReadOther);
        } else if (kind == "link") {
            QDir().mkpath(root.filePath("real"));
            QFile::setPermissions(root.filePath("real"),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            QFile::link(root.filePath("real"), folder);
        } else if (kind == "file") {
            makeFile(folder);
        } else if (kind == "below file") {
            makeFile(folder);
            folder += "/ps";
        } else if (kind == "foreign") {
            if (!RunningAsRoot())
                QSKIP("only root can give a folder to another user");
            QDir().mkpath(folder);
            ::chmod(QFile::encodeName(folder).constData(), 0700);
            QCOMPARE(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
        }
        try {
            EnsurePrivateFolder(folder);
            QFAIL("an unsafe folder was accepted");
        } catch (const RuntimeError &error) {
            QVERIFY2(error.description().contains(folder), qPrintable(error.description()));
        }
    }

    void tempFolderFollowsTheEnvironment()
    {
        EnvironmentGuard temp("TEMP"), runtime("XDG_RUNTIME_DIR"), tmpdir("TMPDIR");
        QTemporaryDir root;
        qputenv("TEMP", QFile::encodeName(root.filePath("named")));
        QCOMPARE(TempFolder(), root.filePath("named"));
        QVERIFY(QFileInfo(root.filePath("named")).isDir()); // made when missing
        qputenv("TEMP", QFile::encodeName(QDir::current().relativeFilePath(root.filePath("named"))));
        QCOMPARE(TempFolder(), root.filePath("named")); // a job's folder is no place to resolve it
        makeFile(root.filePath("a file"));
        qputenv("TEMP", QFile::encodeName(root.filePath("a file")));
        QCOMPARE(ErrorNumberOf([] { TempFolder(); }), 76);
        qputenv("TEMP", "");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root.path()));
        QCOMPARE(TempFolder(), root.path());
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(root.path()));
        const QString own = TempFolder();
        QCOMPARE(own, root.path() + "/pellucor-" + QString::number(::geteuid()));
        QVERIFY(QFileInfo(own).isDir());
        // A planted folder of that name is refused rather than used.
        QFile::setPermissions(own, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                       | QFileDevice::WriteOther | QFileDevice::ExeOther);
        QCOMPARE(ErrorNumberOf([] { TempFolder(); }), 70);
    }

    void subFolders()
    {
        QTemporaryDir root;
        for (const char *name : {"b", "A", ".hidden", "c/deeper"})
            QDir(root.path()).mkpath(name);
        makeFile(root.filePath("file"));
        QCOMPARE(names(SubFolders(root.path() + "/")), (QStringList{".hidden", "A", "b", "c"}));
        QCOMPARE(ErrorNumberOf([&] { SubFolders(root.filePath("missing")); }), 76);
        QCOMPARE(ErrorNumberOf([&] { SubFolders(root.filePath("file")); }), 76);
    }

    void writeTextFile()
    {
        QTemporaryDir root;
        WriteTextFile(root.filePath("t.txt"), "first\r\nsecond", "\r\n");
        WriteTextFile(root.filePath("t.txt"), "short", "\n");
        QCOMPARE(ReadBytes(root.filePath("t.txt")), QByteArray("short\n"));
        QCOMPARE(ErrorNumberOf([&] { WriteTextFile(root.filePath("missing/t.txt"), "x", "\n"); }), 76);
        QCOMPARE(ErrorNumberOf([&] { WriteTextFile(root.path(), "x", "\n"); }), 75);
    }
};

PELLUCOR_REGISTER_TEST(FileSystemTest, unit)
#include "tst_filesystem.moc"
