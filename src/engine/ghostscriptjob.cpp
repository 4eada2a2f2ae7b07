#include "ghostscriptjob.h"

#include "common/filesystem.h"
#include "common/shell.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace GhostscriptJob {

QString WorkingFolder()
{
    return FileSystem::TempFolder() + PathSeparator() + QStringLiteral("ps");
}

void PrepareWorkingFolder(const QString &workingFolder, const QString &runtimeFolder)
{
    // Another user must not be able to plant a script or a "gs" here.
    FileSystem::EnsurePrivateFolder(workingFolder);
    FileSystem::CopyFolder(runtimeFolder, workingFolder);
}

QString ScriptName(PathFlavour flavour)
{
    return flavour == PathFlavour::Windows ? QStringLiteral("eps2jpg.bat") : QStringLiteral("eps2jpg.sh");
}

QString LineEnd(PathFlavour flavour)
{
    return flavour == PathFlavour::Windows ? QStringLiteral("\r\n") : QStringLiteral("\n");
}

QString GhostscriptSwitches(int quality)
{
    return QStringLiteral("-dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg -dJPEGQ=") + QString::number(quality)
           + QStringLiteral(" -dDOINTERPOLATE -dGraphicsAlphaBits=4 -dEPSCrop");
}

QString ScriptText(int quality, PathFlavour flavour)
{
    const bool windows = flavour == PathFlavour::Windows;
    return (windows ? QStringLiteral("gswin32c ") : QStringLiteral("gs ")) + GhostscriptSwitches(quality)
           + QStringLiteral(" -sOutputFile=") + StagedOutputName + u' ' + StagedInputName + LineEnd(flavour)
           + (windows ? QStringLiteral("del ") : QStringLiteral("rm -f ")) + StagedInputName;
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
    return QFileInfo(FileSystem::ApplicationFolder() + QStringLiteral("/ps/gs")).isExecutable();
}

} // namespace

Sandbox::Rules jobSandboxRules(const QString &workingFolder, std::chrono::milliseconds timeLimit)
{
    Sandbox::Rules rules;
    rules.readable = Sandbox::systemReadable();
    rules.writable = {QFile::encodeName(workingFolder).toStdString()};
    const QString ghostscript = hasOwnGhostscript() ? QDir(workingFolder).filePath(QStringLiteral("gs"))
                                                    : QStandardPaths::findExecutable(QStringLiteral("gs"));
    for (const QString &program :
         {QStringLiteral("/bin/sh"), ghostscript, QStandardPaths::findExecutable(QStringLiteral("rm"))}) {
        if (!program.isEmpty())
            rules.executable.push_back(QFile::encodeName(program).toStdString());
    }
    // Ghostscript's temporary files go to a file system of their own, which
    // ends with the job.
    rules.temporary = QFile::encodeName(QDir(workingFolder).filePath(PrivateTempName)).toStdString();
    rules.temporaryBytes = quint64(OutputLimitMegabytes) << 20;
    rules.processes = JobProcessLimit;
    rules.memoryBytes = quint64(MemoryLimitMegabytes) << 20;
    rules.fileSizeBytes = quint64(OutputLimitMegabytes) << 20;
    rules.cpuSeconds = quint64(timeLimit.count() / 1000 + 1);
    return rules;
}

int RunJob(const QString &workingFolder, std::chrono::milliseconds timeLimit, QString *message)
{
    if (!hasOwnGhostscript()) // one an earlier job left would come first on the search path
        QFile::remove(QDir(workingFolder).filePath(QStringLiteral("gs")));
    const QString privateTemp = QDir(workingFolder).filePath(PrivateTempName);
    QDir(privateTemp).removeRecursively();
    QDir().mkpath(privateTemp);
    QFile::setPermissions(privateTemp, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    const Sandbox sandbox(jobSandboxRules(workingFolder, timeLimit));
    if (!sandbox.failure().empty()) { // never run bare what was meant to be confined
        if (message)
            *message = QString::fromStdString(sandbox.failure());
        return Shell32::UnconfinedResult;
    }
    Shell32::WaitOptions options;
    options.timeLimit = timeLimit;
    options.sandbox = &sandbox;
    const QString nativeTemp = QDir::toNativeSeparators(privateTemp);
    options.environment.insert(QStringLiteral("TMPDIR"), nativeTemp);
    options.environment.insert(QStringLiteral("TEMP"), nativeTemp);
    options.environment.insert(QStringLiteral("TMP"), nativeTemp);

    const QChar separator = PathSeparator();
    QString folder = QDir::toNativeSeparators(workingFolder);
    if (!folder.endsWith(separator))
        folder += separator;
    QByteArray output;
    options.output = &output;
    int showMode = Shell::Hidden;
    int result = Shell32::ShellAndWait(u'"' + folder + ScriptName() + u'"', &showMode, folder, options);
    const QString refusal = SandboxRefusal(output);
    if (result == SandboxRefusedStatus || !refusal.isEmpty())
        result = Shell32::UnconfinedResult;
    if (message)
        *message = result == Shell32::UnconfinedResult ? refusal : GhostscriptError(output);

    QDir(privateTemp).removeRecursively();
    return result;
}

QString SandboxRefusal(const QByteArray &output)
{
    // What the sandbox's own programs say when they cannot set it up.
    for (const QByteArray &line : output.split('\n')) {
        if (line.startsWith("pellucor-sandbox: ") || line.startsWith("pellucor-renderer: ") || line.startsWith("bwrap: "))
            return PrintableText(line);
    }
    return {};
}

QString TimeLimitReason(std::chrono::milliseconds limit)
{
    return QStringLiteral("stopped after running %1 seconds").arg(limit.count() / 1000.0);
}

QString GhostscriptError(const QByteArray &output)
{
    const qsizetype at = output.lastIndexOf("Error: ");
    if (at < 0)
        return {};
    const qsizetype end = output.indexOf('\n', at);
    return PrintableText(output.mid(at, end < 0 ? -1 : end - at));
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

bool IsCompleteJpeg(const QString &path)
{
    QFile image(path);
    if (!image.open(QIODevice::ReadOnly) || image.size() < 4)
        return false;
    const QByteArray start = image.read(2);
    image.seek(image.size() - 2);
    return start == "\xFF\xD8" && image.read(2) == "\xFF\xD9";
}

} // namespace GhostscriptJob
