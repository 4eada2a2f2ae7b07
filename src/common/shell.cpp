#include "shell.h"

#include "platform.h"
#include "sandbox/sandbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace Shell {

namespace {

QString withoutEnclosingQuotes(const QString &text)
{
    if (text.size() >= 2 && text.startsWith(u'"') && text.endsWith(u'"'))
        return text.mid(1, text.size() - 2);
    return text;
}

} // namespace

StartResult Execute(const QString &verb, const QString &file, const QString &parameters, const QString &folder,
                    int showMode, const StartExtras &extras)
{
    Q_UNUSED(verb);      // only "open" (or the default action) is ever asked for
    StartResult result;
    if (!folder.isEmpty() && !QFileInfo(folder).isDir()) {
        result.code = PathNotFoundCode;
        return result;
    }
    QString path = withoutEnclosingQuotes(file);
    if (QFileInfo(path).isRelative() && !folder.isEmpty())
        path = QDir(folder).filePath(path);
    const QFileInfo target(path);
    if (!target.exists()) {
        result.code = QFileInfo(target.absolutePath()).isDir() ? FileNotFoundCode : PathNotFoundCode;
        return result;
    }

    Platform::StartCommand command = Platform::CommandFor(target);
    if (command.program.isEmpty()) {
        result.code = NoAssociationCode;
        return result;
    }
    command.arguments += QProcess::splitCommand(parameters);

    const bool held = extras.held && extras.sandbox && Sandbox::canHold();
    auto process = PrepareProgram(command.program, command.arguments, folder.isEmpty() ? target.absolutePath() : folder,
                                  extras.environment, extras.sandbox, held);
    Platform::ApplyShowMode(*process, showMode);
    if (!held) // a held program is released through its standard input, and reads /dev/null
        process->setStandardInputFile(QProcess::nullDevice());
    if (extras.keepOutput) {
        process->setProcessChannelMode(QProcess::MergedChannels);
    } else {
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
    }
    process->start();
    if (!process->waitForStarted()) {
        result.code = AccessDeniedCode;
        return result;
    }
    result.code = StartedCode;
    result.process = std::move(process);
    return result;
}

std::unique_ptr<QProcess> PrepareProgram(const QString &program, const QStringList &arguments, const QString &folder,
                                         const QProcessEnvironment &extraEnvironment, const Sandbox *sandbox, bool held)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString inheritedPath = environment.value(QStringLiteral("PATH"));
    environment.insert(QStringLiteral("PATH"),
                       QDir::toNativeSeparators(QDir(folder).absolutePath()) + QDir::listSeparator() + inheritedPath);
    for (const QString &name : extraEnvironment.keys())
        environment.insert(name, extraEnvironment.value(name));

    auto process = std::make_unique<QProcess>();
    process->setProgram(program);
    process->setArguments(arguments);
    process->setWorkingDirectory(folder);
    process->setProcessEnvironment(environment);
    Platform::PrepareProcessTree(*process, sandbox, held);
    return process;
}

bool Release(QProcess &process, const QByteArray &mark)
{
    if (process.state() != QProcess::Running)
        return false;
    // One line, and the channel closes: nothing else reaches the sandbox that way.
    const QByteArray line = mark + '\n';
    const bool written = process.write(line) == line.size() && process.waitForBytesWritten(1000);
    process.closeWriteChannel();
    return written;
}

void KillProcessTree(QProcess &process)
{
    Platform::KillProcessTree(process);
}

void ProcessPendingEvents()
{
    QCoreApplication::processEvents();
}

} // namespace Shell
