// pellucor-batch: the window's conversion without the window, several files
// at once, each rendered in a process of its own.
#include "batchcommandline.h"
#include "jsonreport.h"
#include "progressreporter.h"
#include "stopsignals.h"

#include "common/filesystem.h"
#include "common/platform.h"
#include "common/runtimeerror.h"
#include "common/sandbox.h"
#include "engine/batchengine.h"
#include "engine/ghostscriptjob.h"
#include "engine/outputnames.h"
#include "engine/pathhelpers.h"
#include "filelist/addfolder.h"
#include "window/settingsstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cstdio>

namespace {

constexpr int UsageFailure = 2;

struct OutputChoice
{
    OutputMode mode = OutputMode::ChosenFolder;
    QString folder;
    int quality = 75;
};

// The command line's choices, else those the window stored last.
OutputChoice chooseOutput(const BatchCommandLine &command)
{
    OutputChoice choice;
    bool option1 = true, option2 = false;
    try {
        option1 = SettingsStore::ToBoolean(SettingsStore::ReadSetting(SettingsStore::Option1));
        option2 = SettingsStore::ToBoolean(SettingsStore::ReadSetting(SettingsStore::Option2));
    } catch (const RuntimeError &) {
        // A stored option that is no Boolean: the window's default mode.
    }
    if (command.beside) {
        choice.mode = OutputMode::InputFolder;
    } else if (command.outputFolder) {
        choice.folder = *command.outputFolder;
    } else if (option2 && !option1) {
        choice.mode = OutputMode::InputFolder;
    } else {
        choice.folder = SettingsStore::ReadSetting(SettingsStore::OutputFolder);
    }
    if (choice.mode == OutputMode::ChosenFolder) {
        choice.folder = QFileInfo(choice.folder).absoluteFilePath();
        if (!QFileInfo(choice.folder).isDir())
            throw UsageError(QStringLiteral("the output folder %1 does not exist").arg(choice.folder));
    }
    choice.quality = command.quality ? *command.quality
                                     : qBound(0, SettingsStore::ToQuality(SettingsStore::ReadSetting(
                                                     SettingsStore::JPGQuality)),
                                              100);
    return choice;
}

// The paths of the --files-from list.
QStringList listedPaths(const BatchCommandLine &command)
{
    QFile list;
    const bool opened = *command.filesFrom == QLatin1String("-")
                            ? list.open(stdin, QIODevice::ReadOnly)
                            : (list.setFileName(*command.filesFrom), list.open(QIODevice::ReadOnly));
    if (!opened)
        throw UsageError(QStringLiteral("the list %1 cannot be read: %2").arg(*command.filesFrom, list.errorString()));
    return pathsFromList(list.readAll(), command.nullSeparated);
}

// A file to convert, and where it was found.
struct Input
{
    QString path;
    QString folder;  // the folder given that it was found in; "" for a file given itself
    QString refusal; // why it is not converted, when it is not
};

// Files as given; folders searched like the window's folder scan. A name
// that is not valid UTF-8 is taken as failed: its text names another file.
QList<Input> inputFiles(const BatchCommandLine &command)
{
    QList<Input> files;
    const QString pattern = QStringLiteral("*.") + command.extension;
    const QStringList paths = command.paths + (command.filesFrom ? listedPaths(command) : QStringList());
    for (const QString &path : paths) {
        if (Platform::HoldsRawBytes(path)) {
            const auto fidelity = Platform::NamesFolder(path) ? FileSystem::NameFidelity::UnfaithfulFolder
                                                              : FileSystem::NameFidelity::UnfaithfulFile;
            files.append({QFileInfo(Platform::ShownText(path)).absoluteFilePath(), {},
                          FileSystem::UnfaithfulReason(fidelity)});
            continue;
        }
        const QString absolute = QFileInfo(path).absoluteFilePath();
        if (!QFileInfo(absolute).isDir() || QFileInfo(absolute).isSymLink()) {
            files.append({absolute, {}, {}});
            continue;
        }
        QStringList folders{absolute.endsWith(PathSeparator()) ? absolute : absolute + PathSeparator()};
        QStringList unsearched;
        AddFolder::GetSubDirectories2016(folders, true, {}, &unsearched);
        for (const AddFolder::ListedPath &file : AddFolder::CollectFiles(folders, pattern, unsearched))
            files.append({file.path, absolute, FileSystem::UnfaithfulReason(file.fidelity)});
    }
    return files;
}

// Where the image of `input` goes: with --mirror, below the output folder in
// the sub-folders the file was found in below its folder.
QString outputOf(const Input &input, const OutputChoice &output, bool mirror)
{
    if (!mirror || input.folder.isEmpty())
        return OutputPath(input.path, output.mode, output.folder);
    const QString below = QDir(input.folder).relativeFilePath(QFileInfo(input.path).path());
    return OutputPath(input.path, output.mode,
                      below == QLatin1String(".") ? output.folder : output.folder + PathSeparator() + below);
}

// 2048 MB for one file, or less where the machine's memory shared among the
// jobs is less: files rendered at once must not push each other into swap.
int defaultMemoryLimit(int jobs)
{
    constexpr long long Usual = GhostscriptJob::MemoryLimitMegabytes;
    const long long memory = Platform::PhysicalMemoryMegabytes();
    return int(memory > 0 ? qBound(256LL, memory / jobs, Usual) : Usual);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pellucor-batch"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PELLUCOR_VERSION));
    BatchCommandLine command;
    OutputChoice output;
    QList<Input> inputs;
    JsonReport report;
    try {
        command = parseBatchCommandLine(Platform::Arguments(argc, argv));
        if (command.help) {
            std::fputs(qPrintable(batchUsage()), stdout);
            return 0;
        }
        if (command.version) {
            std::printf("pellucor-batch %s\n", qPrintable(QCoreApplication::applicationVersion()));
            return 0;
        }
        output = chooseOutput(command);
        inputs = inputFiles(command);
        if (inputs.isEmpty())
            throw UsageError(QStringLiteral("no files matching *.%1 in what was given").arg(command.extension));
        if (command.shards > 1) {
            QStringList paths;
            for (const Input &input : std::as_const(inputs))
                paths << input.path;
            QList<Input> part;
            for (const qsizetype position : shardOf(paths, command.shard, command.shards))
                part.append(inputs.at(position));
            inputs = part;
        }
        if (command.report)
            report.open(*command.report);
    } catch (const UsageError &error) {
        std::fprintf(stderr, "pellucor-batch: %s\nTry 'pellucor-batch --help'.\n",
                     qPrintable(escapedForTerminal(error.message())));
        return UsageFailure;
    } catch (const RuntimeError &error) {
        std::fprintf(stderr, "pellucor-batch: %s\n", qPrintable(escapedForTerminal(error.description())));
        return UsageFailure;
    }

    QList<BatchItem> items;
    items.reserve(inputs.size());
    for (const Input &input : std::as_const(inputs))
        items.append({input.path, outputOf(input, output, command.mirror), input.refusal});

    BatchSettings settings;
    settings.quality = output.quality;
    settings.resolution = command.resolution;
    settings.makeOutputFolders = command.mirror;
    settings.jobs = command.jobs.value_or(qMax(1, QThread::idealThreadCount()));
    if (command.timeoutSeconds)
        settings.timeLimit = std::chrono::milliseconds(qRound64(*command.timeoutSeconds * 1000));
    settings.memoryLimitMegabytes = command.memoryLimitMegabytes.value_or(defaultMemoryLimit(settings.jobs));
    settings.outputLimitMegabytes = command.maxOutputMegabytes.value_or(settings.outputLimitMegabytes);
    settings.renderer = FileSystem::ApplicationFolder() + QStringLiteral("/pellucor-renderer");
    // As for the window, a Ghostscript placed beside the program wins over
    // the system's; it runs separately for each file (always on Windows,
    // which cannot fork). Without one the warm renderer renders every file.
    settings.program = Platform::SeparateGhostscript(FileSystem::ApplicationFolder());
    try {
        settings.workRoot = FileSystem::TempFolder();
    } catch (const RuntimeError &error) {
        // Not a fault of the command line: nothing could be converted.
        std::fprintf(stderr, "pellucor-batch: %s\n", qPrintable(escapedForTerminal(error.description())));
        return 1;
    }

    // Say once what the kernel cannot enforce, never pretend it applied.
    for (const std::string &gap : Sandbox::missing())
        std::fprintf(stderr, "pellucor-batch: note: %s.\n", gap.c_str());

    ProgressReporter progress(int(items.size()), command.quiet);
    BatchEngine engine(items, settings);
    QObject::connect(&engine, &BatchEngine::itemDone, [&](const BatchReport &done) {
        progress.done(items.at(done.index).input, done.converted, done.message);
        report.add(items.at(done.index), done);
    });
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &engine, &BatchEngine::stop);
    try {
        engine.run();
    } catch (const RuntimeError &error) {
        std::fprintf(stderr, "pellucor-batch: %s\n", qPrintable(escapedForTerminal(error.description())));
        return 1;
    }
    report.finish();
    if (stopSignals.received()) {
        progress.stopped(stopSignals.receivedName());
        progress.finish();
        return 128 + stopSignals.received();
    }
    return progress.finish() == 0 ? 0 : 1;
}
