// The platform layer on Windows.
#include "platform.h"

#include "runtimeerror.h"
#include "sandbox/sandbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>

#include <cerrno>
#include <memory>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace Platform {

namespace {

// The job object that holds a started program and everything it starts.
const char *const JobProperty = "pellucorJob";

HANDLE jobOf(const QProcess &process)
{
    return reinterpret_cast<HANDLE>(process.property(JobProperty).value<quintptr>());
}

} // namespace

bool UsesWindowsPaths()
{
    return true;
}

bool IsDriveRoot(const QString &path)
{
    return path.size() == 3 && path.at(1) == u':' && (path.at(2) == u'\\' || path.at(2) == u'/');
}

QString DefaultTempFolder()
{
    return {}; // TEMP is always set, and private to the user
}

void EnsurePrivateFolder(const QString &path)
{
    if (!QDir().mkpath(path))
        throw RuntimeError(RuntimeError::PathNotFound,
                           QStringLiteral("%1: %2").arg(RuntimeError::standardText(RuntimeError::PathNotFound),
                                                        QDir::toNativeSeparators(path)),
                           QStringLiteral("Platform"));
}

struct FileLock::Held
{
    explicit Held(const QString &path) : file(path) {}
    QLockFile file;
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
    // %TEMP% is the user's own: no one else puts anything at the name.
    auto held = std::make_unique<Held>(m_path);
    held->file.setStaleLockTime(0); // a long job is no sign of a dead owner; a dead owner is detected anyway
    if (held->file.tryLock(0)) {
        m_held = std::move(held);
        return true;
    }
    if (held->file.error() == QLockFile::LockFailedError)
        return false;
    throw RuntimeError(RuntimeError::PermissionDenied,
                       QStringLiteral("The lock %1 cannot be made.").arg(QDir::toNativeSeparators(m_path)),
                       QStringLiteral("Platform"));
}

void FileLock::unlock()
{
    m_held.reset();
}

bool FileLock::isLocked() const
{
    return m_held != nullptr;
}

FolderBeneath::FolderBeneath(const QString &root, const QString &relative) : m_shownPath(root)
{
    for (const QString &name : relative.split(u'/', Qt::SkipEmptyParts)) {
        if (name == QLatin1String("."))
            continue;
        m_shownPath += u'/' + name;
        const QFileInfo folder(m_shownPath);
        if (name == QLatin1String("..") || folder.isSymLink() || folder.isJunction())
            throw RuntimeError(RuntimeError::PathFileAccessError,
                               QStringLiteral("The folder %1 is a link, which is not followed: nothing is written "
                                              "through it")
                                   .arg(QDir::toNativeSeparators(m_shownPath)),
                               QStringLiteral("Platform"));
        if (!folder.isDir() && !QDir().mkdir(m_shownPath))
            throw RuntimeError(RuntimeError::PathNotFound,
                               QStringLiteral("%1: %2").arg(RuntimeError::standardText(RuntimeError::PathNotFound),
                                                            QDir::toNativeSeparators(m_shownPath)),
                               QStringLiteral("Platform"));
    }
    m_path = m_shownPath;
}

FolderBeneath::~FolderBeneath() = default;

bool MayEnter(const QFileInfo &)
{
    return true;
}

QList<FolderEntry> ListFolder(const QString &folder, QDir::Filters filters)
{
    // Names are UTF-16 here: QDir's text is the name itself.
    QList<FolderEntry> entries;
    const auto infos = QDir(folder).entryInfoList(filters | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo &info : infos)
        entries.append({info.fileName(), true, info.isFile(), info.isDir(), info.isSymLink(), info.isHidden(),
                        info.isWritable()});
    return entries;
}

QString TextOfName(const QByteArray &native)
{
    return QFile::decodeName(native);
}

bool HoldsRawBytes(const QString &)
{
    return false;
}

QString ShownText(const QString &text)
{
    return text;
}

bool NamesFolder(const QString &text)
{
    const QFileInfo info(text);
    return info.isDir() && !info.isSymLink();
}

QStringList Arguments(int, char *[])
{
    return QCoreApplication::arguments().mid(1); // from the UTF-16 command line, whole
}

bool IsDiskFull(int errnoValue)
{
    return errnoValue == ENOSPC;
}

bool SyncToDisk(QFile &file)
{
    // Not inherited: a program another thread starts meanwhile would hold the
    // file open, and it could then be neither renamed nor removed.
    const int descriptor = ::_wopen(reinterpret_cast<const wchar_t *>(file.fileName().utf16()),
                                    _O_WRONLY | _O_BINARY | _O_NOINHERIT);
    if (descriptor < 0)
        return false;
    const bool synced = ::_commit(descriptor) == 0;
    ::_close(descriptor);
    return synced;
}

bool SyncFileSystemOf(QFile &)
{
    return false;
}

std::optional<bool> CopyInSystem(QFile &, QFile &)
{
    return std::nullopt;
}

void KeepModeOf(const QString &replaced, QFile &replacement)
{
    // A link's target is not the file replaced (the link is).
    if (const QFileInfo info(replaced); info.isFile() && !info.isSymLink())
        replacement.setPermissions(QFile::permissions(replaced));
}

QString DesktopFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

std::unique_ptr<QSettings> OpenSettings()
{
    // Where earlier versions of the program kept these keys.
    return std::make_unique<QSettings>(
        QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\Veltranix"), QSettings::NativeFormat);
}

QString ScriptShell()
{
    return QStringLiteral("cmd.exe");
}

StartCommand CommandFor(const QFileInfo &target)
{
    const QString suffix = target.suffix().toLower();
    if (suffix == QLatin1String("bat") || suffix == QLatin1String("cmd"))
        return {ScriptShell(), {QStringLiteral("/c"), QDir::toNativeSeparators(target.absoluteFilePath())}};
    if (suffix == QLatin1String("exe"))
        return {target.absoluteFilePath(), {}};
    return {};
}

void PrepareProcessTree(QProcess &process, const Sandbox *sandbox, bool /*held*/)
{
    // No program is held here: its sandbox has nothing that waits to release it.
    // Every process the program starts runs in a job object of its own,
    // with the sandbox's limits: the command interpreter, the Ghostscript it
    // starts and whatever that starts. It is created suspended and resumed
    // only once it is in the job, so nothing it starts can run outside;
    // when it ends, or the job is closed, whatever it left ends too.
    HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    auto &basic = limits.BasicLimitInformation;
    basic.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    if (sandbox) {
        const Sandbox::Rules &rules = sandbox->rules();
        if (rules.memoryBytes) {
            basic.LimitFlags |= JOB_OBJECT_LIMIT_PROCESS_MEMORY;
            limits.ProcessMemoryLimit = SIZE_T(rules.memoryBytes);
        }
        if (rules.processes) {
            basic.LimitFlags |= JOB_OBJECT_LIMIT_ACTIVE_PROCESS;
            basic.ActiveProcessLimit = DWORD(rules.processes);
        }
        if (rules.cpuSeconds) { // in units of 100 ns, for all its processes together
            basic.LimitFlags |= JOB_OBJECT_LIMIT_JOB_TIME;
            basic.PerJobUserTimeLimit.QuadPart = LONGLONG(rules.cpuSeconds) * 10'000'000;
        }
    }
    const bool contained = job
                           && ::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    const bool refused = !contained || (sandbox && !sandbox->failure().empty());
    if (job)
        process.setProperty(JobProperty, QVariant::fromValue(reinterpret_cast<quintptr>(job)));

    // QProcess keeps the process information it passes here until the
    // process is gone, and says "started" before start() returns.
    auto started = std::make_shared<PROCESS_INFORMATION *>(nullptr);
    process.setCreateProcessArgumentsModifier([started](QProcess::CreateProcessArguments *arguments) {
        arguments->flags |= CREATE_SUSPENDED;
        *started = arguments->processInformation;
    });
    QObject::connect(&process, &QProcess::started, &process, [started, job, refused] {
        const PROCESS_INFORMATION *information = *started;
        if (!information)
            return;
        // Never run unconfined what was meant to be confined.
        if (refused || !::AssignProcessToJobObject(job, information->hProcess))
            ::TerminateProcess(information->hProcess, Sandbox::RefusedStatus);
        else
            ::ResumeThread(information->hThread);
    });
    QObject::connect(&process, &QProcess::finished, &process, [job] {
        if (job)
            ::TerminateJobObject(job, 1);
    });
    QObject::connect(&process, &QObject::destroyed, [job] {
        if (job)
            ::CloseHandle(job);
    });
}

void ApplyShowMode(QProcess &process, int showMode)
{
    // After what PrepareProcessTree asked of the start, not instead of it.
    const auto before = process.createProcessArgumentsModifier();
    process.setCreateProcessArgumentsModifier([before, showMode](QProcess::CreateProcessArguments *arguments) {
        if (before)
            before(arguments);
        arguments->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
        arguments->startupInfo->wShowWindow = WORD(showMode);
    });
}

void KillProcessTree(QProcess &process)
{
    if (HANDLE job = jobOf(process))
        ::TerminateJobObject(job, 1);
    process.kill();
    process.waitForFinished(5000);
}

bool IsTerminal(std::FILE *)
{
    return false;
}

int CatchStopSignals()
{
    return -1; // Ctrl-C ends a console program and its job at once
}

int TakeStopSignal()
{
    return 0;
}

void ReleaseStopSignals() {}

QString SignalName(int number)
{
    return QString::number(number);
}

bool IsProcessorTimeLimit(int)
{
    return false;
}

bool IsFileSizeLimit(int)
{
    return false;
}

QString OwnGhostscript(const QString &)
{
    return {};
}

QString SeparateGhostscript(const QString &applicationFolder)
{
    return applicationFolder + QStringLiteral("/ps/gswin32c.exe");
}

QString WarmRenderer(const QString &)
{
    return {};
}

long long PhysicalMemoryMegabytes()
{
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    return ::GlobalMemoryStatusEx(&status) ? static_cast<long long>(status.ullTotalPhys / (1024 * 1024)) : 0;
}

std::optional<int> ServeAsFirstProcess()
{
    return std::nullopt; // Windows starts every program below its own
}

} // namespace Platform
