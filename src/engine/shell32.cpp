#include "shell32.h"

#include "common/shell.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <optional>

namespace Shell32 {

namespace {

QString gshellSource()
{
    const QString program = QCoreApplication::instance()
                                ? QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName()
                                : QStringLiteral("Pellucor");
    return program + QStringLiteral(".GShell");
}

} // namespace

ShellError ShellErrorFor(int result)
{
    switch (result) {
    case 0:
    case 8: return {7, QStringLiteral("Out of memory")};
    case 2: return {53, QStringLiteral("File not found")};
    case 3: return {76, QStringLiteral("Path not found")};
    case 5: return {75, QStringLiteral("Path/file access error")};
    case 11: return {result + ShellErrorBase, QStringLiteral("The executable file is invalid or corrupt")};
    case 26: return {75, QStringLiteral("A sharing violation occurred.")};
    case 27: return {result + ShellErrorBase, QStringLiteral("This file type does not have a valid file association.")};
    case 28:
        return {286, QStringLiteral("The file could not be opened due to time out. Please try again in a moment.")};
    case 29:
        return {285,
                QStringLiteral(
                    "The file could not be opened because the DDE transaction failed. Please try again in a moment.")};
    case 30:
        return {
            285,
            QStringLiteral(
                "The file could not be opened because the target application is busy. Please try again in a moment.")};
    case 31: return {result + ShellErrorBase, QStringLiteral("No application is associated with this file type.")};
    case 32: return {48, QStringLiteral("The specified dynamic-link library was not found.")};
    default:
        return {result + ShellErrorBase,
                QStringLiteral("An error occurred occurred whilst trying to open or print the selected file.")};
    }
}

int EffectiveShowMode(const QString &file, int showMode, const QString &parameters, const QString &folder)
{
    if (file.toUpper().contains(QLatin1String(".EXE")))
        showMode = Shell::Hidden;
    if (parameters.isEmpty() && folder.isEmpty())
        return Shell::Normal;
    return showMode;
}

int ShowModeForWait(std::optional<int> showMode)
{
    if (!showMode || *showMode < 0 || *showMode > 6)
        return Shell::Minimized;
    return *showMode;
}

GShellResult GShell(const QString &file, int showMode, const QString &parameters, const QString &folder,
                    const QString &verb, qintptr ownerWindow, const Shell::StartExtras &extras)
{
    Q_UNUSED(ownerWindow);
    GShellResult outcome;
    const int mode = EffectiveShowMode(file, showMode, parameters, folder);
    Shell::StartResult started = Shell::Execute(verb, file, parameters, folder, mode, extras);
    outcome.result = started.code;
    outcome.process = std::move(started.process);
    if (outcome.result >= 0 && outcome.result <= Shell::LastFailureCode) {
        const ShellError error = ShellErrorFor(outcome.result);
        outcome.error = RuntimeError(error.number, error.message, gshellSource());
    }
    return outcome;
}

GShellResult Start(const QString &command, int *showMode, const QString &workingFolder, const WaitOptions &options,
                   bool held)
{
    const int mode = ShowModeForWait(showMode ? std::optional<int>(*showMode) : std::nullopt);
    if (showMode)
        *showMode = mode;
    return GShell(command, mode, QString(), workingFolder, QStringLiteral("open"), 0,
                  {options.environment, options.output != nullptr, options.sandbox, held});
}

void Release(GShellResult &started, const QByteArray &endMark)
{
    if (started.process)
        Shell::Release(*started.process, endMark); // one that ended meanwhile says why when waited for
}

namespace {

// Takes the line "<mark> <status>" that ends `output`, with the line end
// before it; false while it is not all there.
bool takeEndMark(QByteArray &output, const QByteArray &mark, int &status)
{
    const QByteArray opening = '\n' + mark + ' ';
    const qsizetype at = output.lastIndexOf(opening);
    const qsizetype end = at < 0 ? -1 : output.indexOf('\n', at + opening.size());
    if (end < 0)
        return false;
    bool number = false;
    status = output.mid(at + opening.size(), end - at - opening.size()).toInt(&number);
    if (!number)
        return false;
    output.truncate(at);
    return true;
}

} // namespace

WaitResult Wait(GShellResult &started, const WaitOptions &options)
{
    if (started.error)
        return {RunEnding::NotStarted, started.error->number(), started.error->description()};

    // Wait for the program's own end signal, or its sandbox's word that
    // everything in it has ended, while window events keep running; the
    // time limit ends a program that would never end.
    QProcess &process = *started.process;
    QEventLoop loop;
    std::optional<int> marked; // the status its sandbox ended with
    const auto keepOutput = [&] {
        if (!options.output || marked)
            return;
        options.output->append(process.readAll());
        if (int status = 0;
            !marked && !options.endMark.isEmpty() && takeEndMark(*options.output, options.endMark, status)) {
            marked = status;
            loop.quit();
        }
        if (options.output->size() > GhostscriptPolicy::MessagesKept)
            options.output->remove(0, options.output->size() - GhostscriptPolicy::MessagesKept);
    };
    keepOutput(); // what a held start said while it waited
    const QMetaObject::Connection reading = QObject::connect(&process, &QProcess::readyRead, &process, keepOutput);
    if (process.state() != QProcess::NotRunning && !marked) {
        QTimer limit;
        bool timedOut = false;
        limit.setSingleShot(true);
        QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
        QObject::connect(&limit, &QTimer::timeout, &loop, [&] {
            timedOut = true;
            loop.quit();
        });
        limit.start(options.timeLimit);
        if (process.state() != QProcess::NotRunning)
            loop.exec();
        if (process.state() != QProcess::NotRunning && !marked) {
            // Only the time limit or the application's exit end the loop early.
            // A job left running after its program ends would still delete
            // its staged file, which may by then belong to another instance.
            QObject::disconnect(reading);
            Shell::KillProcessTree(process);
            return {timedOut ? RunEnding::TimedOut : RunEnding::Abandoned, 0, {}};
        }
    }
    keepOutput();
    QObject::disconnect(reading); // what a sandbox winding down still says is no one's
    Shell::ProcessPendingEvents();
    if (marked)
        return {RunEnding::Exited, *marked, {}};
    if (process.exitStatus() != QProcess::NormalExit)
        return {RunEnding::Signalled, 0, {}};
    return {RunEnding::Exited, process.exitCode(), {}};
}

WaitResult ShellAndWait(const QString &command, int *showMode, const QString &workingFolder, const WaitOptions &options)
{
    GShellResult started = Start(command, showMode, workingFolder, options);
    return Wait(started, options);
}

} // namespace Shell32
