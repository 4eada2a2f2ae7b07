#pragma once

#include <QByteArray>
#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>

// A file of tests/data.
QString TestDataPath(const QString &name);

QByteArray ReadBytes(const QString &path);
void WriteBytes(const QString &path, const QByteArray &bytes);
// The environment a converter started by a test runs in: its settings and
// its temporary folders below `home` (TEMP `temp` when given), nothing of
// the user who runs the tests.
QProcessEnvironment ConverterEnvironment(const QString &home, const QString &temp = {});

// A file or a folder at a path given as the bytes the file system names it
// with: a name that is not UTF-8, which no QString can hold.
void WriteBytesNamed(const QByteArray &nativePath, const QByteArray &bytes);
void MakeFolderNamed(const QByteArray &nativePath);
// Removes the tree at such a path when it goes out of scope: QDir, and so
// QTemporaryDir, cannot remove what it cannot name.
class NamedTreeRemover
{
public:
    explicit NamedTreeRemover(const QByteArray &nativePath) : m_path(nativePath) {}
    ~NamedTreeRemover();
    NamedTreeRemover(const NamedTreeRemover &) = delete;
    NamedTreeRemover &operator=(const NamedTreeRemover &) = delete;

private:
    QByteArray m_path;
};

// Installs a font for the user whose home folder is `home`, as fontconfig
// finds it (in ~/.fonts): Ghostscript's Nimbus Sans renamed PellucorOwn-Regula,
// a name no system has. False when there is no Nimbus Sans to copy.
bool InstallOwnFont(const QString &home);

// Creates small files at `relativePaths` below `root`, with their folders.
void MakeFiles(const QString &root, const QStringList &relativePaths);
// Writes an executable shell script (a stand-in program).
void WriteScript(const QString &path, const QByteArray &body);

// The JPEG that Ghostscript writes when run directly, in a folder of its own,
// with the program's switches written out here independently.
QByteArray GhostscriptReference(const QString &epsPath, int quality);

// Every name below `folder`, with sizes and modification times, so that a
// test can tell that nothing there was created, changed or deleted. Paths
// starting with one of `excluded` are left out.
QString FolderSnapshot(const QString &folder, const QStringList &excluded = {});

bool RunningAsRoot();

// The number of the RuntimeError `operation` raises; 0 when it raises none.
int ErrorNumberOf(const std::function<void()> &operation);

// Every running process of that `name` whose current folder lies below `folderPrefix`.
QList<qint64> ProcessesIn(const QString &folderPrefix, const QByteArray &name);
// The id of a running Ghostscript (or another program of that `name`) whose
// current folder lies below `folderPrefix`; 0 when there is none.
qint64 FindGhostscriptIn(const QString &folderPrefix, const QByteArray &name = "gs");

// The first page that a render child of pellucor-batch below `folderPrefix`
// (the run's folder and a slash: children work in folders below it, where
// the renderer and a child still waiting for its file do not) has written,
// as that child sees its folder (in namespaces it writes
// to a file system of its own, which nobody else sees); "" while there is
// none. `child`, when given, receives the child's id.
QString PageBeingWritten(const QString &folderPrefix, qint64 *child = nullptr);

// A large page full of small coloured boxes: Ghostscript takes a while to
// draw it and writes a JPEG of a few megabytes, slowly enough to be caught
// in the middle.
QByteArray SlowEps();

// A TCP listener on 127.0.0.1 that accepts nobody: a test asks afterwards
// whether anybody tried to connect.
class LoopbackListener
{
public:
    LoopbackListener();
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener &) = delete;
    LoopbackListener &operator=(const LoopbackListener &) = delete;

    int port() const { return m_port; }
    bool connectionWaiting() const;

private:
    int m_fd = -1;
    int m_port = 0;
};

// True while the process runs; a zombie waiting for its parent counts as ended.
bool ProcessAlive(qint64 pid);
// The same for a process whose id a script wrote into `pidFile`.
bool ProcessAliveByFile(const QString &pidFile);

// Root passes every permission check, so a test about a missing permission
// reruns its own function in a user namespace as an ordinary user (uid 1000
// there). Use PELLUCOR_AS_ORDINARY_USER() first thing in such a test.
struct OrdinaryUserRun
{
    bool skipped = false;
    bool passed = false;
    QString output;
};
OrdinaryUserRun RerunAsOrdinaryUser(const char *testClass);

#define PELLUCOR_AS_ORDINARY_USER()                                                 \
    if (RunningAsRoot()) {                                                          \
        const OrdinaryUserRun run = RerunAsOrdinaryUser(metaObject()->className()); \
        if (run.skipped)                                                            \
            QSKIP(qPrintable(run.output));                                          \
        QVERIFY2(run.passed, qPrintable(run.output));                               \
        return;                                                                     \
    }
