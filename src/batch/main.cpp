// pellucor-batch: the window's conversion without the window, several files
// at once, each rendered in a process of its own.
#include "batchcommandline.h"
#include "jsonreport.h"
#include "progressreporter.h"
#include "stopsignals.h"

#include "common/filesystem.h"
#include "common/logging.h"
#include "common/platform.h"
#include "common/runtimeerror.h"
#include "engine/addfolder.h"
#include "engine/batchengine.h"
#include "engine/outputnames.h"
#include "engine/pathhelpers.h"
#include "engine/settingsstore.h"
#include "sandbox/sandbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cstdio>
#include <optional>

namespace {

constexpr int UsageFailure = 2;

struct OutputChoice
{
    OutputMode mode = OutputMode::ChosenFolder;
    QString folder;
    int quality = 0; // always chosen
};

// The command line's choices, else those the window stored last.
OutputChoice chooseOutput(const BatchCommandLine &command)
{
    OutputChoice choice;
    // The window's own defaults, where it stored nothing usable.
    bool option1 = SettingsStore::ToBoolean(SettingsStore::DefaultOf(SettingsStore::Option1));
    bool option2 = SettingsStore::ToBoolean(SettingsStore::DefaultOf(SettingsStore::Option2));
    try {
        option1 = SettingsStore::ToBoolean(SettingsStore::ReadSetting(SettingsStore::Option1));
        option2 = SettingsStore::ToBoolean(SettingsStore::ReadSetting(SettingsStore::Option2));
    } catch (const RuntimeError &error) {
        // A stored option that is no Boolean: the window's default mode.
        qCDebug(lcEngine) << "stored output options not used:" << error.description();
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
    choice.quality = command.quality
                         ? *command.quality
                         : qBound(0, SettingsStore::ToQuality(SettingsStore::ReadSetting(SettingsStore::JPGQuality)),
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
            files.append({QFileInfo(Platform::ShownText(path)).absoluteFilePath(),
                          {},
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
// the sub-folders the file was found in below its folder; with the format's
// extension.
QString outputOf(const Input &input, const OutputChoice &output, const BatchCommandLine &command)
{
    QString path;
    if (!command.mirror || input.folder.isEmpty()) {
        path = OutputPath(input.path, output.mode, output.folder);
    } else {
        const QString below = QDir(input.folder).relativeFilePath(QFileInfo(input.path).path());
        path = OutputPath(input.path, output.mode,
                          below == QLatin1String(".") ? output.folder : output.folder + PathSeparator() + below);
    }
    const QString jpeg = QStringLiteral(".jpg"); // the window's, which OutputPath gives
    return path.chopped(jpeg.size()) + u'.' + QString::fromLatin1(GhostscriptPolicy::extension(command.format));
}

// Whether the image of `input` exists and is newer than it: a file changed
// since its image was made, or in the same instant, is converted again.
// With an image per page, the first page's counts where there are several.
bool isUpToDate(const QString &image, const QString &input, bool eachPage)
{
    const QFileInfo source(input);
    QFileInfo made(image);
    if (!made.isFile() && eachPage)
        made.setFile(PageOutput(image, 1));
    return made.isFile() && made.lastModified() > source.lastModified();
}

// 2048 MB for one file, or less where the machine's memory shared among the
// jobs is less: files rendered at once must not push each other into swap.
int defaultMemoryLimit(int jobs)
{
    const long long Usual = GhostscriptPolicy::Limits().memoryMegabytes;
    const long long memory = Platform::PhysicalMemoryMegabytes();
    return int(memory > 0 ? qBound(256LL, memory / jobs, Usual) : Usual);
}

// What the command line asks for, read and checked.
struct Batch
{
    BatchCommandLine command;
    OutputChoice output;
    QList<Input> inputs;
    JsonReport report;
};

// Only this shard's part of the inputs, in their order.
QList<Input> shardOfInputs(const QList<Input> &inputs, int shard, int shards)
{
    QStringList paths;
    for (const Input &input : inputs)
        paths << input.path;
    QList<Input> part;
    for (const qsizetype position : shardOf(paths, shard, shards))
        part.append(inputs.at(position));
    return part;
}

void fail(const QString &message)
{
    std::fprintf(stderr, "pellucor-batch: %s\n", qPrintable(escapedForTerminal(message)));
}

// Reads the command line and what it names; the exit status when the
// program ends here (help, version or a bad command line).
std::optional<int> readCommandLine(int argc, char *argv[], Batch &batch)
{
    try {
        batch.command = parseBatchCommandLine(Platform::Arguments(argc, argv));
        if (batch.command.help) {
            std::fputs(qPrintable(batchUsage()), stdout);
            return 0;
        }
        if (batch.command.version) {
            std::printf("pellucor-batch %s\n", qPrintable(QCoreApplication::applicationVersion()));
            return 0;
        }
        batch.output = chooseOutput(batch.command);
        batch.inputs = inputFiles(batch.command);
        if (batch.inputs.isEmpty())
            throw UsageError(QStringLiteral("no files matching *.%1 in what was given").arg(batch.command.extension));
        if (batch.command.shards > 1)
            batch.inputs = shardOfInputs(batch.inputs, batch.command.shard, batch.command.shards);
        if (batch.command.report)
            batch.report.open(*batch.command.report);
    } catch (const UsageError &error) {
        std::fprintf(stderr, "pellucor-batch: %s\nTry 'pellucor-batch --help'.\n",
                     qPrintable(escapedForTerminal(error.message())));
        return UsageFailure;
    } catch (const RuntimeError &error) {
        fail(error.description());
        return UsageFailure;
    }
    return std::nullopt;
}

// The engine's settings: the command line's, else the defaults.
BatchSettings settingsFor(const Batch &batch)
{
    const BatchCommandLine &command = batch.command;
    BatchSettings settings;
    settings.image.quality = batch.output.quality;
    settings.image.format = command.format;
    settings.image.background = command.background;
    settings.image.antialias = command.antialias;
    settings.image.crop = command.crop;
    settings.image.chroma = command.chroma;
    settings.resolution = command.resolution;
    settings.width = command.width;
    settings.height = command.height;
    settings.margin = command.margin.value_or(0);
    settings.eachPage = command.eachPage;
    settings.makeOutputFolders = command.mirror;
    settings.outputFolder = batch.output.folder;
    settings.jobs = command.jobs.value_or(qMax(1, QThread::idealThreadCount()));
    if (command.timeoutSeconds)
        settings.limits.time = std::chrono::milliseconds(qRound64(*command.timeoutSeconds * 1000));
    settings.limits.memoryMegabytes = command.memoryLimitMegabytes.value_or(defaultMemoryLimit(settings.jobs));
    settings.limits.outputMegabytes = command.maxOutputMegabytes.value_or(settings.limits.outputMegabytes);
    settings.renderer = Platform::WarmRenderer(FileSystem::ApplicationFolder());
    // As for the window, a Ghostscript placed beside the program wins over
    // the system's; it runs separately for each file (always on Windows,
    // which cannot fork). Without one the warm renderer renders every file.
    settings.program = Platform::SeparateGhostscript(FileSystem::ApplicationFolder());
    return settings;
}

// Converts every item, reporting each as it is done; the exit status.
int convert(Batch &batch, const QList<BatchItem> &items, const BatchSettings &settings)
{
    // Say once what the kernel cannot enforce, never pretend it applied.
    for (const std::string &gap : Sandbox::missing())
        std::fprintf(stderr, "pellucor-batch: note: %s.\n", gap.c_str());

    ProgressReporter progress(int(items.size()), batch.command.quiet);
    BatchEngine engine(items, settings);
    QObject::connect(&engine, &BatchEngine::itemDone, [&](const BatchReport &done) {
        progress.done(items.at(done.index).input, done);
        batch.report.add(items.at(done.index), done);
    });
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &engine, &BatchEngine::stop);
    try {
        engine.run();
    } catch (const RuntimeError &error) {
        fail(error.description());
        return 1;
    }
    batch.report.finish();
    if (stopSignals.received()) {
        progress.stopped(stopSignals.receivedName());
        progress.finish();
        return 128 + stopSignals.received();
    }
    return progress.finish() == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    // As the first process of a container, the program runs below a small
    // init of its own that reaps what is left to it.
    if (const std::optional<int> status = Platform::ServeAsFirstProcess())
        return *status;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pellucor-batch"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PELLUCOR_VERSION));
    Batch batch;
    if (const std::optional<int> status = readCommandLine(argc, argv, batch))
        return *status;

    QList<BatchItem> items;
    items.reserve(batch.inputs.size());
    for (const Input &input : std::as_const(batch.inputs)) {
        BatchItem item{input.path, outputOf(input, batch.output, batch.command), input.refusal};
        item.upToDate = batch.command.skipNewer && input.refusal.isEmpty()
                        && isUpToDate(item.output, input.path, batch.command.eachPage);
        items.append(item);
    }
    BatchSettings settings = settingsFor(batch);
    try {
        settings.workRoot = FileSystem::TempFolder();
    } catch (const RuntimeError &error) {
        fail(error.description()); // not a fault of the command line: nothing could be converted
        return 1;
    }
    return convert(batch, items, settings);
}
