#include "ghostscriptjob.h"

#include "common/filesystem.h"
#include "common/logging.h"
#include "common/platform.h"
#include "common/runtimeerror.h"
#include "common/shell.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTimer>

#include <utility>

namespace GhostscriptJob {

QString WorkingFolder()
{
    return FileSystem::TempFolder() + PathSeparator() + QStringLiteral("ps");
}

QStringList GhostscriptSwitches(const GhostscriptPolicy::Image &image)
{
    QStringList result;
    for (const std::string &ghostscriptSwitch : GhostscriptPolicy::switches(image))
        result << QString::fromStdString(ghostscriptSwitch);
    return result;
}

void PrepareTemporaryFolder(const QString &temporary)
{
    const QFileInfo found(temporary);
    if (found.isSymLink() || (found.exists() && !found.isDir()))
        FileSystem::RemoveTree(temporary);
    else if (found.isDir())
        QFile::setPermissions(temporary, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    FileSystem::EnsurePrivateFolder(temporary); // made, or checked: a real folder, this user's, closed to others
    FileSystem::EmptyFolder(temporary);
    if (!QDir(temporary).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        throw RuntimeError(RuntimeError::PermissionDenied,
                           QStringLiteral("Ghostscript's temporary folder %1 cannot be emptied")
                               .arg(QDir::toNativeSeparators(temporary)),
                           QStringLiteral("GhostscriptJob"));
}

QString FreshTemporaryFolder(const QString &runFolder, QProcessEnvironment &environment)
{
    const QString temporary =
        QFile::decodeName(GhostscriptPolicy::temporaryFolder(QFile::encodeName(runFolder).toStdString()).c_str());
    PrepareTemporaryFolder(temporary);
    for (const char *variable : GhostscriptPolicy::TemporaryVariables)
        environment.insert(QString::fromLatin1(variable), QDir::toNativeSeparators(temporary));
    return temporary;
}

QString ScriptName(PathFlavour flavour)
{
    return flavour == PathFlavour::Windows ? QStringLiteral("eps2jpg.bat") : QStringLiteral("eps2jpg.sh");
}

QString LineEnd(PathFlavour flavour)
{
    return flavour == PathFlavour::Windows ? QStringLiteral("\r\n") : QStringLiteral("\n");
}

QString ScriptText(int quality, PathFlavour flavour)
{
    const bool windows = flavour == PathFlavour::Windows;
    const QStringList line = QStringList{windows ? QStringLiteral("gswin32c") : QStringLiteral("gs")}
                             + GhostscriptSwitches(GhostscriptPolicy::Image{quality});
    return line.join(u' ') + QStringLiteral(" -sOutputFile=") + StagedOutputName + u' ' + StagedInputName
           + LineEnd(flavour) + (windows ? QStringLiteral("del ") : QStringLiteral("rm -f ")) + StagedInputName;
}

void SaveStringToFile(const QString &path, const QString &text, PathFlavour flavour)
{
    FileSystem::WriteTextFile(path, text, LineEnd(flavour));
}

void RestoreScript(const QString &path, const QString &text)
{
    // A folder or a link a job put in its place goes first.
    const QFileInfo found(path);
    if (found.isSymLink() || (found.exists() && !found.isFile()))
        FileSystem::RemoveTree(path);
    QFile script(path);
    const QByteArray expected = (text + LineEnd()).toLocal8Bit();
    if (!script.open(QIODevice::ReadOnly) || script.readAll() != expected) {
        script.close();
        SaveStringToFile(path, text);
    }
}

namespace {

// Whether the application folder supplies a Ghostscript, which the run copies
// into the working folder. A "gs" found there otherwise was left by a job.
bool hasOwnGhostscript()
{
    return !Platform::OwnGhostscript(FileSystem::ApplicationFolder()).isEmpty();
}

// Between jobs, where a failure is said by the next job's own check.
void emptyTemporaryFolder(const QString &temporary)
{
    try {
        PrepareTemporaryFolder(temporary);
    } catch (const RuntimeError &error) {
        qCDebug(lcEngine) << "left for the next job to refuse:" << error.description();
    }
}

// Lets a sandbox that has said everything in it ended finish; one held
// before its turn ends at once, having run nothing.
void letFinish(Shell32::GShellResult &started)
{
    if (QProcess *process = started.process.get(); process && process->state() != QProcess::NotRunning) {
        process->closeWriteChannel();
        if (!process->waitForFinished(5000))
            Shell::KillProcessTree(*process);
    }
    started = {};
}

// How long after a job's release the next is started ahead.
constexpr std::chrono::milliseconds AheadDelay(30);

// A mark no program can guess, for a job's sandbox to end its output with.
QByteArray newEndMark()
{
    QByteArray mark;
    for (int i = 0; i < 4; ++i)
        mark += QByteArray::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, '0');
    return mark;
}

} // namespace

std::vector<std::string> JobPrograms(const QString &workingFolder)
{
    const QString ghostscript = hasOwnGhostscript() ? QDir(workingFolder).filePath(QStringLiteral("gs"))
                                                    : QStandardPaths::findExecutable(QStringLiteral("gs"));
    std::vector<std::string> programs;
    for (const QString &program :
         {Platform::ScriptShell(), ghostscript, QStandardPaths::findExecutable(QStringLiteral("rm"))}) {
        if (!program.isEmpty())
            programs.push_back(QFile::encodeName(program).toStdString());
    }
    return programs;
}

Shell32::WaitResult RunJob(const QString &workingFolder, std::chrono::milliseconds timeLimit)
{
    return Jobs(workingFolder, timeLimit).run();
}

Jobs::Jobs(const QString &workingFolder, std::chrono::milliseconds timeLimit)
    : m_folder(workingFolder),
      m_temporary(QFile::decodeName(GhostscriptPolicy::temporaryFolder(QFile::encodeName(workingFolder).toStdString())
                                        .c_str())),
      m_ownGhostscript(hasOwnGhostscript())
{
    QString folderText = QDir::toNativeSeparators(workingFolder);
    if (!folderText.endsWith(PathSeparator()))
        folderText += PathSeparator();
    m_shellFolder = folderText;
    m_command = u'"' + folderText + ScriptName() + u'"';
    for (const char *variable : GhostscriptPolicy::TemporaryVariables)
        m_options.environment.insert(QString::fromLatin1(variable), QDir::toNativeSeparators(m_temporary));
    m_options.timeLimit = timeLimit;
    GhostscriptPolicy::Limits limits;
    limits.time = timeLimit;
    m_sandbox =
        std::make_unique<Sandbox>(GhostscriptPolicy::windowJobRules(QFile::encodeName(workingFolder).toStdString(),
                                                                    JobPrograms(workingFolder), limits));
    m_options.sandbox = m_sandbox.get();
    emptyTemporaryFolder(m_temporary);
}

Jobs::~Jobs()
{
    letFinish(m_ahead);
    letFinish(m_finishing);
    FileSystem::RemoveTree(m_temporary);
}

void Jobs::startAhead()
{
    if (!Sandbox::canHold() || m_ahead.process || !m_sandbox->failure().empty())
        return;
    QByteArray said; // read when its turn comes
    Shell32::WaitOptions options = m_options;
    options.output = &said;
    int showMode = Shell::Hidden;
    m_ahead = Shell32::Start(m_command, &showMode, m_shellFolder, options, true);
    if (m_ahead.error)
        m_ahead = {}; // started when its turn comes instead
}

Shell32::WaitResult Jobs::run(bool another)
{
    if (!m_ownGhostscript) // one an earlier job left would come first on the search path
        QFile::remove(QDir(m_folder).filePath(QStringLiteral("gs")));
    try {
        PrepareTemporaryFolder(m_temporary);
    } catch (const RuntimeError &error) { // never a job with a folder another can reach
        return {RunEnding::NotStarted, error.number(), error.description()};
    }
    if (!m_sandbox->failure().empty()) // never run bare what was meant to be confined
        return {RunEnding::Unconfined, 0, QString::fromStdString(m_sandbox->failure())};

    QByteArray output;
    Shell32::WaitOptions options = m_options;
    options.output = &output;
    letFinish(m_finishing); // long done, as a rule
    // One started ahead that ended before its turn (it could not be made
    // while the job before it ran, say) gives way to a start now.
    Shell32::GShellResult job = std::exchange(m_ahead, {});
    if (job.process && job.process->state() == QProcess::Running) {
        // Its sandbox says when everything in it has ended; the rest of its
        // winding down goes on beside what follows the job.
        options.endMark = newEndMark();
        Shell32::Release(job, options.endMark);
    } else {
        int showMode = Shell::Hidden;
        job = Shell32::Start(m_command, &showMode, m_shellFolder, options);
    }
    // The next one is started once this one is under way, so that its
    // start-up does not compete with this one's.
    QTimer ahead;
    ahead.setSingleShot(true);
    if (another) {
        QObject::connect(&ahead, &QTimer::timeout, [this] { startAhead(); });
        ahead.start(AheadDelay);
    }
    Shell32::WaitResult result = Shell32::Wait(job, options);
    m_finishing = std::move(job);
    if (another && result.ending != RunEnding::Abandoned)
        startAhead(); // when this one ended first

    const QString refusal = SandboxRefusal(output);
    const bool refused = result.ended() && result.exitCode == Sandbox::RefusedStatus;
    if (refused || !refusal.isEmpty())
        result = {RunEnding::Unconfined, 0, refusal};
    else if (result.ended() && result.exitCode == Sandbox::OutputTooLargeStatus)
        result = {RunEnding::Outgrown, 0, {}};
    else if (result.ending != RunEnding::NotStarted)
        result.message = GhostscriptError(output);
    emptyTemporaryFolder(m_temporary);
    return result;
}

QString SandboxRefusal(const QByteArray &output)
{
    // What the sandbox's own programs say when they cannot set it up.
    for (const QByteArray &line : output.split('\n')) {
        if (line.startsWith("pellucor-sandbox: ") || line.startsWith("pellucor-renderer: ")
            || line.startsWith("bwrap: "))
            return PrintableText(line);
    }
    return {};
}

QString GhostscriptError(const QByteArray &output)
{
    const qsizetype at = output.lastIndexOf("Error: ");
    if (at < 0)
        return {};
    const qsizetype end = output.indexOf('\n', at);
    return PrintableText(output.mid(at, end < 0 ? -1 : end - at));
}

QStringList FontWarnings(const QByteArray &output)
{
    QStringList warnings;
    for (QByteArray line : output.split('\n')) {
        line = line.trimmed();
        if (!line.startsWith("Substituting font ") && !line.startsWith("Substituting for font "))
            continue;
        if (line.endsWith('.'))
            line.chop(1);
        if (const QString warning = PrintableText(line); !warnings.contains(warning))
            warnings.append(warning);
    }
    return warnings;
}

bool IsInformational(const QByteArray &line)
{
    static const char *const Openings[] = {"GPL Ghostscript",
                                           "Copyright (C)",
                                           "This software is supplied",
                                           "see the file COPYING",
                                           "Loading ",
                                           "Querying operating system for font files",
                                           "Can't find (or can't open) font file",
                                           "Didn't find this font on the system",
                                           "Substituting "};
    const QByteArray trimmed = line.trimmed();
    for (const char *opening : Openings) {
        if (trimmed.startsWith(opening))
            return true;
    }
    return false;
}

QString PrintableText(const QByteArray &bytes)
{
    QString text = QString::fromLocal8Bit(bytes).trimmed();
    for (QChar &c : text) {
        if (!c.isPrint() || c == QChar::ReplacementCharacter)
            c = u'?';
    }
    return text;
}

bool IsLeftAsFile(const QString &path)
{
    const QFileInfo left(path);
    return !left.isSymLink() && left.isFile();
}

QString NotAFileReason(const QString &path)
{
    return QStringLiteral("Ghostscript left something other than an image: ") + QFileInfo(path).fileName();
}

bool IsCompleteImage(const QString &path, GhostscriptPolicy::Image::Format format)
{
    // A JPEG's start and end markers; a PNG's signature and its IEND chunk.
    const bool png = format == GhostscriptPolicy::Image::Format::Png;
    const QByteArray start = png ? QByteArrayLiteral("\x89PNG\r\n\x1A\n") : QByteArrayLiteral("\xFF\xD8");
    const QByteArray end = png ? QByteArrayLiteral("\0\0\0\0IEND\xAE\x42\x60\x82") : QByteArrayLiteral("\xFF\xD9");
    QFile image(path);
    if (!image.open(QIODevice::ReadOnly) || image.size() < start.size() + end.size())
        return false;
    const QByteArray head = image.read(start.size());
    image.seek(image.size() - end.size());
    return head == start && image.read(end.size()) == end;
}

} // namespace GhostscriptJob
