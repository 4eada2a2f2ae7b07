// The platform layer on Linux (and other Unix systems).
#include "platform.h"

#include "runtimeerror.h"
#include "sandbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

namespace {

const QString Source = QStringLiteral("Platform");

int stopSignalPipe[2] = {-1, -1}; // the handler writes, the event loop reads
constexpr int StopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE}; // SIGPIPE: a reader of the output went away

void noteStopSignal(int number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = ::write(stopSignalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

bool UsesWindowsPaths()
{
    return false;
}

bool IsDriveRoot(const QString &)
{
    return false;
}

QString DefaultTempFolder()
{
    // $XDG_RUNTIME_DIR is private to the user; the system temporary folder is
    // shared by every user, so a folder of our own is kept there.
    if (const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR"); !runtime.isEmpty())
        return runtime;
    const QString own = QDir::tempPath() + QStringLiteral("/pellucor-") + QString::number(::geteuid());
    EnsurePrivateFolder(own);
    return own;
}

void EnsurePrivateFolder(const QString &path)
{
    QString name = path;
    while (name.size() > 1 && name.endsWith(u'/'))
        name.chop(1);
    const QByteArray native = QFile::encodeName(name);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0) {
        if (errno != ENOENT || ::mkdir(native.constData(), 0700) != 0 || ::lstat(native.constData(), &st) != 0)
            throw RuntimeError(errorFromErrno(errno, path, Source).number(),
                               QStringLiteral("The folder %1 cannot be created: %2")
                                   .arg(path, QString::fromLocal8Bit(::strerror(errno))),
                               Source);
    }
    QString problem;
    if (S_ISLNK(st.st_mode))
        problem = QStringLiteral("is a link");
    else if (!S_ISDIR(st.st_mode))
        problem = QStringLiteral("is not a folder");
    else if (st.st_uid != ::geteuid())
        problem = QStringLiteral("belongs to another user");
    else if ((st.st_mode & 077) != 0)
        problem = QStringLiteral("is open to other users");
    if (!problem.isEmpty())
        throw RuntimeError(RuntimeError::PermissionDenied,
                           QStringLiteral("The folder %1 %2, so it is not used for the conversion's "
                                          "files. Remove it or point TEMP at a private folder.")
                               .arg(path, problem),
                           Source);
}

bool MayEnter(const QFileInfo &folder)
{
    return !folder.isDir() || folder.isExecutable();
}

bool SyncToDisk(QFile &file)
{
    return ::fsync(file.handle()) == 0;
}

void KeepModeOf(const QString &replaced, QFile &replacement)
{
    // The rename replaces a link, not its target: the target's owner and
    // mode are not the replaced file's, so the new file keeps a new file's.
    struct stat st {};
    if (::lstat(QFile::encodeName(replaced).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    const int descriptor = replacement.handle();
    // Else the group alone; else the file stays this user's, as a new one would.
    if (::fchown(descriptor, st.st_uid, st.st_gid) != 0)
        (void)!::fchown(descriptor, static_cast<uid_t>(-1), st.st_gid);
    // Permissions only: an image the program wrote never becomes setuid,
    // setgid or sticky because the file it replaced was.
    ::fchmod(descriptor, st.st_mode & 0777);
}

QString DesktopFolder()
{
    // Many Linux systems name a desktop folder that is not there; the home
    // folder then takes its place, so that the default output folder exists.
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    return QFileInfo(desktop).isDir() ? desktop : QDir::homePath();
}

std::unique_ptr<QSettings> OpenSettings()
{
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Veltranix"));
}

StartCommand CommandFor(const QFileInfo &target)
{
    if (target.isFile() && target.suffix() == QLatin1String("sh"))
        return {QStringLiteral("/bin/sh"), {target.absoluteFilePath()}};
    if (target.isFile() && target.isExecutable())
        return {target.absoluteFilePath(), {}};
    return {};
}

void PrepareProcessTree(QProcess &process, const Sandbox *sandbox)
{
    // A group of its own, so that ending the program also ends what it started.
    process.setChildProcessModifier([sandbox] {
        ::setpgid(0, 0);
        if (sandbox && !sandbox->apply())
            ::_exit(125); // never run unconfined what was meant to be confined
    });
}

void KillProcessTree(QProcess &process)
{
    if (const qint64 pid = process.processId(); pid > 0)
        ::kill(-static_cast<pid_t>(pid), SIGKILL);
    process.kill();
    process.waitForFinished(5000);
}

bool IsTerminal(std::FILE *stream)
{
    return ::isatty(::fileno(stream)) != 0;
}

int CatchStopSignals()
{
    if (stopSignalPipe[0] < 0 && ::pipe2(stopSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    struct sigaction action = {};
    action.sa_handler = noteStopSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int number : StopSignals)
        ::sigaction(number, &action, nullptr);
    return stopSignalPipe[0];
}

int TakeStopSignal()
{
    unsigned char byte = 0;
    return stopSignalPipe[0] >= 0 && ::read(stopSignalPipe[0], &byte, 1) == 1 ? byte : 0;
}

void ReleaseStopSignals()
{
    for (const int number : StopSignals)
        ::signal(number, SIG_DFL);
}

QString SignalName(int number)
{
    return QString::fromLocal8Bit(::strsignal(number));
}

bool IsProcessorTimeLimit(int number)
{
    return number == SIGXCPU;
}

bool IsFileSizeLimit(int number)
{
    return number == SIGXFSZ;
}

QString SeparateGhostscript(const QString &applicationFolder)
{
    const QFileInfo own(applicationFolder + QStringLiteral("/ps/gs"));
    return own.isFile() && own.isExecutable() ? own.absoluteFilePath() : QString();
}

long long PhysicalMemoryMegabytes()
{
    const long long pages = ::sysconf(_SC_PHYS_PAGES);
    const long long pageSize = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? pages * pageSize / (1024 * 1024) : 0;
}

} // namespace Platform
