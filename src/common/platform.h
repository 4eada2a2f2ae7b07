#pragma once

#include <QDir>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <memory>
#include <optional>

class QFile;
class QFileInfo;
class QProcess;
class QSettings;
class Sandbox;

// Everything that differs between Linux and Windows, behind small functions;
// platform_unix.cpp and platform_windows.cpp implement them, and CMake builds
// the one for the platform at hand. The rest of the program has no #if.
namespace Platform {

// Paths: "\" separators, drive letters and network paths, or "/".
bool UsesWindowsPaths();
// True for "C:\": a root, not "C:" (the current folder of drive C).
bool IsDriveRoot(const QString &path);

// The folder below which the conversion's folders go when TEMP names none:
// a folder of this user's own, made private; "" where TEMP always names one.
QString DefaultTempFolder();
// Creates `path` (one level) private to this user, or checks that an
// existing one is a real folder owned by this user and closed to others.
// RuntimeError 70 when it is not, or the error of the failed creation.
void EnsurePrivateFolder(const QString &path);
// False for an existing folder this user may not enter.
bool MayEnter(const QFileInfo &folder);

// Names. Where the system names files with bytes (Linux), a name that is not
// valid UTF-8 cannot be held as text without loss: decoded, it shows U+FFFD
// for what could not be read, and that text names another file (the one
// named with that text) or none. Such a name is called unfaithful; it is
// never opened by its text. On Windows names are UTF-16 and always faithful.

// An entry of a folder, with what is known of it, read through its real name.
struct FolderEntry
{
    QString name;         // for an unfaithful name, the text users are shown
    bool faithful = true; // false: `name` names another entry, or none
    bool file = false;    // a regular file, links followed
    bool folder = false;  // a folder, links followed
    bool link = false;    // a symbolic link itself
    bool hidden = false;
    bool writable = false; // by this user
};
// The entries of `folder` that `filters` select (Files, Dirs, Hidden; never
// "." and ".."), sorted by name with case ignored; equal names of different
// bytes by their bytes. Empty when the folder cannot be read.
QList<FolderEntry> ListFolder(const QString &folder, QDir::Filters filters);

// A name as the system handed it over (an argument, a line of a list), as
// text. An unfaithful one keeps each byte that is not UTF-8 as a character
// from U+DC80 to U+DCFF, which decoded text never holds, so that it is never
// taken for another name. Test for that with HoldsRawBytes before the text
// reaches anything that opens files.
QString TextOfName(const QByteArray &native);
bool HoldsRawBytes(const QString &text);
// Text of TextOfName as users are shown it (U+FFFD for what is not UTF-8).
QString ShownText(const QString &text);
// True when text of TextOfName names a folder (not a link to one).
bool NamesFolder(const QString &text);
// The program's arguments after its name, each as TextOfName gives it.
QStringList Arguments(int argc, char *argv[]);

// Whether an error number means the disk (or the user's share of it) is full.
bool IsDiskFull(int errnoValue);

// Makes what was written to `file` durable before it takes an old file's place.
bool SyncToDisk(QFile &file);
// Makes everything written on the file system of `file` durable, at once for
// many new files; false where the system cannot (then each is synced).
bool SyncFileSystemOf(QFile &file);
// Copies the rest of `from` to `to` in the system, without passing the bytes
// through this process (sharing them where the file system can); false with
// errno set when it failed, none where the system cannot copy these files.
std::optional<bool> CopyInSystem(QFile &from, QFile &to);
// The replacement gets the permissions of the regular file it replaces
// (never setuid, setgid or sticky), and its owner and group where this user
// may set them; replacing a link or anything else, it keeps a new file's.
void KeepModeOf(const QString &replaced, QFile &replacement);

// An exclusive lock between processes on the file at `path`, made when it is
// missing, held until unlock() or until this process ends.
class FileLock
{
public:
    explicit FileLock(const QString &path);
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    // False while another process holds it. Never waits, not even for what
    // stands at its name: anything but a regular file of this user's (a link,
    // a pipe others may write to) is refused with RuntimeError 70.
    bool tryLock();
    void unlock();
    bool isLocked() const;

private:
    struct Held;
    QString m_path;
    std::unique_ptr<Held> m_held;
};

// The folder `relative` below `root`, made where missing, one folder at a
// time and never through a link: a link on the way is refused with
// RuntimeError 75, and nothing is made beyond it.
class FolderBeneath
{
public:
    FolderBeneath(const QString &root, const QString &relative);
    ~FolderBeneath();
    FolderBeneath(const FolderBeneath &) = delete;
    FolderBeneath &operator=(const FolderBeneath &) = delete;

    // A path of the folder that stays the one made, should a folder on the
    // way be replaced by a link meanwhile (where the system can hold it so).
    QString path() const { return m_path; }
    // The folder as users know it.
    QString shownPath() const { return m_shownPath; }

private:
    QString m_path;
    QString m_shownPath;
    int m_descriptor = -1;
};

// The desktop folder, without a trailing separator; where a Linux system
// names one that is not there, the home folder.
QString DesktopFolder();

// The settings store, before the program's group is entered.
std::unique_ptr<QSettings> OpenSettings();

// How the shell starts `target`: the program and the arguments before any
// of the caller's; no program when the platform has no association for it.
struct StartCommand
{
    QString program;
    QStringList arguments;
};
StartCommand CommandFor(const QFileInfo &target);
// The program that runs a job's script ("/bin/sh", or the command interpreter).
QString ScriptShell();
// Sets up a process so that it and everything it starts can be ended
// together, so that it ends when this process does (a process that finds
// this one gone as it starts ends at once), and so that it runs inside
// `sandbox` when one is given. `held` (Linux, with a sandbox): the sandbox
// is made at once, and the program starts only when released through its
// standard input (see Sandbox::command).
void PrepareProcessTree(QProcess &process, const Sandbox *sandbox, bool held = false);
// Ends a started program and everything it started in turn.
void KillProcessTree(QProcess &process);
// Starts the program's window in `showMode` (Shell::ShowMode) where the
// system lets the starter choose; on Linux a program places its own windows.
void ApplyShowMode(QProcess &process, int showMode);

// True when `stream` is a terminal, where a progress bar can be redrawn.
bool IsTerminal(std::FILE *stream);

// Catches SIGINT, SIGTERM, SIGHUP and SIGPIPE (on Windows: nothing), to be
// taken one by one with TakeStopSignal when the descriptor returned becomes
// readable; -1 when none are caught.
int CatchStopSignals();
// The next stop signal caught; 0 when none waits.
int TakeStopSignal();
// Gives the stop signals their usual effect back.
void ReleaseStopSignals();
// A signal's name for the user ("Interrupt").
QString SignalName(int number);
// Whether a process ended by `number` ran past its processor-time limit or
// its file-size limit.
bool IsProcessorTimeLimit(int number);
bool IsFileSizeLimit(int number);

// The Ghostscript placed in the application folder's ps/ in place of the
// system's, which the window's run copies into its working folder; "" when
// there is none (Windows: the one in ps/ is the only one, and not copied as such).
QString OwnGhostscript(const QString &applicationFolder);
// A Ghostscript placed in the application folder's ps/ that runs separately
// for each file of a batch; "" to render with the warm renderer. Windows has
// no warm renderer: there it is always the one in ps/.
QString SeparateGhostscript(const QString &applicationFolder);
// The warm renderer beside the programs; "" where there is none.
QString WarmRenderer(const QString &applicationFolder);
// The machine's memory in megabytes; 0 when unknown.
long long PhysicalMemoryMegabytes();

// Where this program is the first process of its system or container (as
// `docker run` starts it without an init), it serves as that system's init:
// the program goes on in a child, and this returns the child's exit status
// once it has ended, having reaped every process left to it and passed
// SIGTERM, SIGINT and SIGHUP on to the child. nullopt in the program itself,
// and wherever it is not the first process. Call before any thread starts.
std::optional<int> ServeAsFirstProcess();

} // namespace Platform
