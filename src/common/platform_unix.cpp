// The platform layer on Linux (and other Unix systems).
#include "platform.h"

#include "runtimeerror.h"
#include "sandbox/sandbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

// A byte that is not UTF-8 travels in text as U+DC00 plus the byte: a lone
// low surrogate, which no decoded text holds.
constexpr char16_t RawByteBase = 0xDC00;

bool isRawByte(char16_t c)
{
    return c >= RawByteBase + 0x80 && c <= RawByteBase + 0xFF;
}

// The length of the well-formed UTF-8 sequence at `at`: no overlong forms, no
// surrogates, nothing above U+10FFFF; 0 when there is none.
qsizetype utf8SequenceAt(const QByteArray &bytes, qsizetype at)
{
    const auto byte = [&](qsizetype i) { return i < bytes.size() ? static_cast<unsigned char>(bytes.at(i)) : 0u; };
    const unsigned lead = byte(at);
    if (lead < 0x80)
        return 1;
    qsizetype length = 0;
    unsigned low = 0x80, high = 0xBF; // the bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return 0;
    }
    if (byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (qsizetype i = 2; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

// The bytes that text of TextOfName stands for.
QByteArray rawBytesOf(const QString &text)
{
    QByteArray bytes;
    qsizetype run = 0; // where the text since the last raw byte began
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i; // a pair: one character
        } else if (isRawByte(c.unicode())) {
            bytes += QStringView(text).sliced(run, i - run).toUtf8();
            bytes += static_cast<char>(c.unicode() - RawByteBase);
            run = i + 1;
        }
    }
    return bytes + QStringView(text).sliced(run).toUtf8();
}

} // namespace

QList<FolderEntry> ListFolder(const QString &folder, QDir::Filters filters)
{
    // QDir lists names as text, so an unfaithful name comes out as another
    // name's text, or not at all: the listing is made here, from the bytes.
    struct Found
    {
        QByteArray native;
        QString folded;
        FolderEntry entry;
    };
    QList<Found> found;
    DIR *dir = ::opendir(folder.isEmpty() ? "." : QFile::encodeName(folder).constData());
    if (!dir)
        return {};
    const int at = ::dirfd(dir);
    while (const dirent *item = ::readdir(dir)) {
        const QByteArray native(item->d_name);
        if (native == "." || native == "..")
            continue;
        struct stat own{}, target{};
        if (::fstatat(at, item->d_name, &own, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // gone meanwhile
        FolderEntry entry;
        entry.link = S_ISLNK(own.st_mode);
        if (::fstatat(at, item->d_name, &target, 0) == 0) {
            entry.file = S_ISREG(target.st_mode);
            entry.folder = S_ISDIR(target.st_mode);
        }
        entry.hidden = native.startsWith('.');
        if (!((entry.file && filters.testFlag(QDir::Files)) || (entry.folder && filters.testFlag(QDir::Dirs)))
            || (entry.hidden && !filters.testFlag(QDir::Hidden)))
            continue;
        entry.writable = ::faccessat(at, item->d_name, W_OK, 0) == 0;
        entry.name = QFile::decodeName(native);
        entry.faithful = QFile::encodeName(entry.name) == native;
        found.append({native, entry.name.toLower(), entry});
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end(), [](const Found &a, const Found &b) {
        if (const int folded = a.folded.compare(b.folded); folded != 0)
            return folded < 0;
        if (const int exact = a.entry.name.compare(b.entry.name); exact != 0)
            return exact < 0;
        return a.native < b.native;
    });
    QList<FolderEntry> entries;
    entries.reserve(found.size());
    for (const Found &each : std::as_const(found))
        entries.append(each.entry);
    return entries;
}

QString TextOfName(const QByteArray &native)
{
    if (const QString text = QFile::decodeName(native); QFile::encodeName(text) == native)
        return text;
    QString kept;
    for (qsizetype at = 0; at < native.size();) {
        if (const qsizetype length = utf8SequenceAt(native, at); length > 0) {
            kept += QString::fromUtf8(native.constData() + at, length);
            at += length;
        } else {
            kept += QChar(static_cast<char16_t>(RawByteBase + static_cast<unsigned char>(native.at(at))));
            ++at;
        }
    }
    if (!HoldsRawBytes(kept)) {
        // Decoding found a fault that this reading does not: keep every byte outside ASCII.
        kept.clear();
        for (const char byte : native)
            kept += static_cast<unsigned char>(byte) < 0x80
                        ? QChar(static_cast<char16_t>(byte))
                        : QChar(static_cast<char16_t>(RawByteBase + static_cast<unsigned char>(byte)));
    }
    return kept;
}

bool HoldsRawBytes(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (isRawByte(c.unicode()))
            return true;
    }
    return false;
}

QString ShownText(const QString &text)
{
    return HoldsRawBytes(text) ? QFile::decodeName(rawBytesOf(text)) : text;
}

bool NamesFolder(const QString &text)
{
    struct stat st{};
    return ::lstat(rawBytesOf(text).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

QStringList Arguments(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(TextOfName(QByteArray(argv[i])));
    return arguments;
}

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
    struct stat st{};
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

bool IsDiskFull(int errnoValue)
{
    return errnoValue == ENOSPC || errnoValue == EDQUOT;
}

bool SyncToDisk(QFile &file)
{
    return ::fsync(file.handle()) == 0;
}

bool SyncFileSystemOf(QFile &file)
{
    return ::syncfs(file.handle()) == 0;
}

std::optional<bool> CopyInSystem(QFile &from, QFile &to)
{
    for (bool copiedAny = false;; copiedAny = true) {
        const ssize_t copied = ::copy_file_range(from.handle(), nullptr, to.handle(), nullptr, 1 << 30, 0);
        if (copied == 0)
            return true;
        if (copied < 0 && errno == EINTR)
            continue;
        // The kernel cannot copy between these file systems (before 5.3, or
        // between kinds it does not join).
        if (copied < 0 && !copiedAny && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP))
            return std::nullopt;
        if (copied < 0)
            return false;
    }
}

void KeepModeOf(const QString &replaced, QFile &replacement)
{
    // The rename replaces a link, not its target: the target's owner and
    // mode are not the replaced file's, so the new file keeps a new file's.
    struct stat st{};
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

struct FileLock::Held
{
    int descriptor;
};

FileLock::FileLock(const QString &path) : m_path(path) {}

FileLock::~FileLock()
{
    unlock();
}

bool FileLock::tryLock()
{
    if (m_held)
        return true;
    // Not through a link, and without waiting for a writer of a pipe there.
    const int descriptor = ::open(QFile::encodeName(m_path).constData(),
                                  O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    struct stat st{};
    QString problem;
    if (descriptor < 0)
        problem = errno == ELOOP
                      ? QStringLiteral("is a link")
                      : QStringLiteral("cannot be opened (%1)").arg(QString::fromLocal8Bit(::strerror(errno)));
    else if (::fstat(descriptor, &st) != 0 || !S_ISREG(st.st_mode))
        problem = QStringLiteral("is not a regular file");
    else if (st.st_uid != ::geteuid())
        problem = QStringLiteral("belongs to another user");
    if (problem.isEmpty() && ::flock(descriptor, LOCK_EX | LOCK_NB) == 0) {
        m_held = std::make_unique<Held>(Held{descriptor});
        return true;
    }
    const int error = errno;
    if (descriptor >= 0)
        ::close(descriptor);
    if (problem.isEmpty() && error == EWOULDBLOCK)
        return false;
    if (problem.isEmpty())
        problem = QStringLiteral("cannot be locked (%1)").arg(QString::fromLocal8Bit(::strerror(error)));
    throw RuntimeError(RuntimeError::PermissionDenied,
                       QStringLiteral("The lock %1 %2, so it is not used. Remove it or point TEMP at a private folder.")
                           .arg(m_path, problem),
                       Source);
}

void FileLock::unlock()
{
    // The file stays: removed, a waiting process could lock the old one
    // while a third makes and locks a new one.
    if (m_held)
        ::close(m_held->descriptor);
    m_held.reset();
}

bool FileLock::isLocked() const
{
    return m_held != nullptr;
}

FolderBeneath::FolderBeneath(const QString &root, const QString &relative) : m_shownPath(root)
{
    // The root is the user's choice, links and all.
    int at = ::open(QFile::encodeName(root).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (at < 0)
        throw errorFromErrno(errno, root, Source);
    for (const QString &name : relative.split(u'/', Qt::SkipEmptyParts)) {
        if (name == QLatin1String("."))
            continue;
        m_shownPath += u'/' + name;
        if (name == QLatin1String("..")) {
            ::close(at);
            throw RuntimeError(RuntimeError::PathFileAccessError,
                               QStringLiteral("The folder %1 lies outside %2").arg(m_shownPath, root), Source);
        }
        const QByteArray native = QFile::encodeName(name);
        const bool there = ::mkdirat(at, native.constData(), 0777) == 0 || errno == EEXIST;
        const int next = there ? ::openat(at, native.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1;
        const int error = errno;
        struct stat st{};
        const bool link = next < 0 && ::fstatat(at, native.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0
                          && S_ISLNK(st.st_mode);
        ::close(at);
        if (link)
            throw RuntimeError(RuntimeError::PathFileAccessError,
                               QStringLiteral("The folder %1 is a link, which is not followed: nothing is written "
                                              "through it")
                                   .arg(m_shownPath),
                               Source);
        if (next < 0)
            throw errorFromErrno(error, m_shownPath, Source);
        at = next;
    }
    m_descriptor = at;
    m_path = QStringLiteral("/proc/self/fd/%1").arg(at);
}

FolderBeneath::~FolderBeneath()
{
    ::close(m_descriptor);
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

QString ScriptShell()
{
    return QStringLiteral("/bin/sh");
}

StartCommand CommandFor(const QFileInfo &target)
{
    if (target.isFile() && target.suffix() == QLatin1String("sh"))
        return {ScriptShell(), {target.absoluteFilePath()}};
    if (target.isFile() && target.isExecutable())
        return {target.absoluteFilePath(), {}};
    return {};
}

void PrepareProcessTree(QProcess &process, const Sandbox *sandbox, bool held)
{
    const pid_t starter = ::getpid();
    // A sandboxed program runs as a tree of its own below pellucor-sandbox
    // (in namespaces made by bubblewrap, where there are any), which ends
    // whatever the program left when it ends.
    if (sandbox) {
        std::vector<std::string> program{QFile::encodeName(process.program()).toStdString()};
        for (const QString &argument : process.arguments())
            program.push_back(QFile::encodeName(argument).toStdString());
        const std::vector<std::string> command = sandbox->command(program, held);
        QStringList arguments;
        for (auto it = command.begin() + 1; it != command.end(); ++it)
            arguments << QFile::decodeName(QByteArray::fromStdString(*it));
        process.setProgram(QFile::decodeName(QByteArray::fromStdString(command.front())));
        process.setArguments(arguments);
    }
    const bool refused = sandbox && !sandbox->failure().empty();
    process.setChildProcessModifier([refused, starter] {
        // A session and group of its own, so that ending the program also ends
        // what it started, and nothing it starts can join a group outside.
        ::setsid();
        // Asked to end when this process ends; gone already, it cannot be.
        // Its parent's process id tells, not its value: as the first process
        // of a container this one is 1.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != starter)
            ::_exit(127);
        // Only the standard descriptors cross: whatever started this program
        // may have left others open.
        Sandbox::keepStandardDescriptorsOnly(true);
        if (refused)
            ::_exit(Sandbox::RefusedStatus); // never run unconfined what was meant to be confined
    });
}

void ApplyShowMode(QProcess &, int) {}

void KillProcessTree(QProcess &process)
{
    // Asked first, pellucor-sandbox ends what the program left, also what
    // left its group; then whatever is left of the group goes.
    if (const pid_t pid = static_cast<pid_t>(process.processId()); pid > 0 && process.state() != QProcess::NotRunning) {
        ::kill(-pid, SIGTERM);
        bool reaped = false;
        for (int round = 0; round < 100; ++round) {
            siginfo_t ended{};
            if (::waitid(P_PID, id_t(pid), &ended, WEXITED | WNOHANG | WNOWAIT) != 0) {
                reaped = true; // by someone else: its group id may already be another's
                break;
            }
            if (ended.si_pid == pid)
                break;
            ::usleep(10000);
        }
        // Not reaped, the leader holds its group id: no other group can have it.
        if (!reaped)
            ::kill(-pid, SIGKILL);
    }
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

QString OwnGhostscript(const QString &applicationFolder)
{
    const QFileInfo own(applicationFolder + QStringLiteral("/ps/gs"));
    return own.isFile() && own.isExecutable() ? own.absoluteFilePath() : QString();
}

QString SeparateGhostscript(const QString &applicationFolder)
{
    return OwnGhostscript(applicationFolder);
}

QString WarmRenderer(const QString &applicationFolder)
{
    return applicationFolder + QStringLiteral("/pellucor-renderer");
}

long long PhysicalMemoryMegabytes()
{
    const long long pages = ::sysconf(_SC_PHYS_PAGES);
    const long long pageSize = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? pages * pageSize / (1024 * 1024) : 0;
}

std::optional<int> ServeAsFirstProcess()
{
    if (::getpid() != 1)
        return std::nullopt;
    sigset_t awaited;
    sigemptyset(&awaited);
    for (const int signal : {SIGCHLD, SIGTERM, SIGINT, SIGHUP})
        sigaddset(&awaited, signal);
    sigset_t before;
    ::sigprocmask(SIG_BLOCK, &awaited, &before);
    const pid_t program = ::fork();
    if (program <= 0) { // the program, or, where none could be made, this process as it
        ::sigprocmask(SIG_SETMASK, &before, nullptr);
        return std::nullopt;
    }
    for (;;) {
        const int signal = ::sigwaitinfo(&awaited, nullptr);
        if (signal != SIGCHLD) {
            if (signal > 0)
                ::kill(program, signal);
            continue;
        }
        int status = 0;
        for (pid_t reaped; (reaped = ::waitpid(-1, &status, WNOHANG)) > 0;) {
            if (reaped == program)
                return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
        }
    }
}

} // namespace Platform
