#include "batchcommandline.h"

#include "common/platform.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

struct Options
{
    QCommandLineOption output{QStringLiteral("output"), QStringLiteral("Put every image in DIR."),
                              QStringLiteral("DIR")};
    QCommandLineOption beside{QStringLiteral("beside"), QStringLiteral("Put each image beside its input file.")};
    QCommandLineOption mirror{QStringLiteral("mirror"),
                              QStringLiteral("With --output: an image of a file found below a folder goes into the "
                                             "same sub-folders of DIR, made as needed, never through a link; files "
                                             "named directly go into DIR itself.")};
    QCommandLineOption quality{QStringLiteral("quality"), QStringLiteral("JPEG quality, 0 to 100."),
                               QStringLiteral("N")};
    QCommandLineOption resolution{QStringLiteral("resolution"),
                                  QStringLiteral("Render at DPI dots per inch (Ghostscript's default without it)."),
                                  QStringLiteral("DPI")};
    QCommandLineOption width{QStringLiteral("width"),
                             QStringLiteral("Each image at most PX pixels wide, its proportions kept: the resolution "
                                            "is made to fit from the file's box. Not with --resolution."),
                             QStringLiteral("PX")};
    QCommandLineOption height{QStringLiteral("height"),
                              QStringLiteral("Each image at most PX pixels high, as --width; with both, the image "
                                             "fits inside the two."),
                              QStringLiteral("PX")};
    QCommandLineOption crop{QStringLiteral("crop"),
                            QStringLiteral("box (the default, as the window: the file's own bounding box) or "
                                           "drawing (what the file actually draws, measured first; for boxes that "
                                           "are missing, \"(atend)\" or wrong)."),
                            QStringLiteral("TO")};
    QCommandLineOption margin{QStringLiteral("margin"),
                              QStringLiteral("With --crop drawing: PT points of white around the drawing (default 0)."),
                              QStringLiteral("PT")};
    QCommandLineOption pages{QStringLiteral("pages"),
                             QStringLiteral("one (the default, as the window: every page in one file) or each: "
                                            "name-1.jpg, name-2.jpg, ... for a file of several pages."),
                             QStringLiteral("HOW")};
    QCommandLineOption chroma{QStringLiteral("chroma"),
                              QStringLiteral("JPEG colour detail: half (the default, Ghostscript's 4:2:0) or full "
                                             "(4:4:4, for thin coloured lines)."),
                              QStringLiteral("DETAIL")};
    QCommandLineOption format{
        QStringLiteral("format"),
        QStringLiteral("jpeg (the default) or png: the images' format, and their names' extension."),
        QStringLiteral("FORMAT")};
    QCommandLineOption background{QStringLiteral("background"),
                                  QStringLiteral("white (the default) or, with --format png, transparent."),
                                  QStringLiteral("COLOUR")};
    QCommandLineOption antialias{QStringLiteral("antialias"),
                                 QStringLiteral("What is drawn with smooth edges: graphics (the default, as the "
                                                "window), all (text too) or none (hard edges, for barcodes)."),
                                 QStringLiteral("WHAT")};
    QCommandLineOption extension{QStringLiteral("extension"),
                                 QStringLiteral("Extension to search folders for (default eps, * for all files)."),
                                 QStringLiteral("EXT")};
    QCommandLineOption filesFrom{QStringLiteral("files-from"),
                                 QStringLiteral("Also convert the files and folders listed in FILE, one a line "
                                                "(- for standard input)."),
                                 QStringLiteral("FILE")};
    QCommandLineOption null{QStringLiteral("null"),
                            QStringLiteral("The --files-from list is separated by NUL characters, as find -print0 "
                                           "writes it.")};
    QCommandLineOption jobs{QStringLiteral("jobs"),
                            QStringLiteral("Files rendered at once (default: the number of cores)."),
                            QStringLiteral("N")};
    QCommandLineOption timeout{QStringLiteral("timeout"), QStringLiteral("Time limit for one file (default 600)."),
                               QStringLiteral("SECONDS")};
    QCommandLineOption memoryLimit{QStringLiteral("memory-limit"),
                                   QStringLiteral("Memory one file may use (default 2048, or less on a machine whose "
                                                  "memory shared among the jobs is less)."),
                                   QStringLiteral("MB")};
    QCommandLineOption maxOutput{QStringLiteral("max-output"),
                                 QStringLiteral("Megabytes one file may write while it is rendered, holes included "
                                                "(default 1024)."),
                                 QStringLiteral("MB")};
    QCommandLineOption shard{QStringLiteral("shard"),
                             QStringLiteral("Convert only the K-th of N parts of the sorted list of files, for "
                                            "running on N machines."),
                             QStringLiteral("K/N")};
    QCommandLineOption report{QStringLiteral("report"),
                              QStringLiteral("Write one JSON line per file to FILE (- for standard output), in "
                                             "input order, as the files finish."),
                              QStringLiteral("FILE")};
    QCommandLineOption skipExisting{QStringLiteral("skip-existing"),
                                    QStringLiteral("newer: a file whose image is newer than it is not converted again, "
                                                   "and is reported skipped."),
                                    QStringLiteral("WHEN")};
    QCommandLineOption quiet{QStringLiteral("quiet"), QStringLiteral("No progress, no summary but the failures.")};
    QCommandLineOption version{QStringLiteral("version"), QStringLiteral("Show the version.")};
    QCommandLineOption help{QStringLiteral("help"), QStringLiteral("Show this text.")};

    void addTo(QCommandLineParser &parser) const
    {
        parser.setApplicationDescription(QStringLiteral(
            "Converts EPS files to JPEG images with Ghostscript, many at a time.\n\n"
            "Files are converted as given; folders are searched, with every folder below them, for files\n"
            "with the extension (left out: names starting with \"~\", and hidden files, those whose names\n"
            "start with \".\", unless they are read-only; links to folders are not followed). Without\n"
            "--output, --beside or --quality the choices last made in the Pellucor window are used.\n"
            "Existing images are replaced; of two inputs whose images would have one name, the later is\n"
            "not converted and is reported failed.\n\n"
            "Exit status: 0 when every file converted, 1 when some failed, 2 for bad usage,\n"
            "128 plus the signal's number when stopped by SIGINT, SIGTERM, SIGHUP or SIGPIPE."));
        parser.addOptions({output,    beside,       mirror,    quality, resolution, width,       height,
                           format,    background,   antialias, crop,    margin,     pages,       chroma,
                           extension, filesFrom,    null,      jobs,    timeout,    memoryLimit, maxOutput,
                           shard,     skipExisting, report,    quiet,   version,    help});
        parser.addPositionalArgument(QStringLiteral("PATH"), QStringLiteral("EPS files and folders to convert."),
                                     QStringLiteral("PATH..."));
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    }
};

// The value of an option that names a file or folder; a name that is not
// valid UTF-8 would name another one.
QString nameOf(const QString &option, const QString &value)
{
    if (Platform::HoldsRawBytes(value))
        throw UsageError(QStringLiteral("--%1 names %2, whose name is not valid UTF-8")
                             .arg(option, Platform::ShownText(value)));
    return value;
}

// The value of an option that takes one of a few words.
template<typename Value>
Value oneOf(const QString &option, const QString &text, std::initializer_list<std::pair<const char *, Value>> words)
{
    QStringList names;
    for (const auto &[name, value] : words) {
        if (text == QLatin1String(name))
            return value;
        names << QString::fromLatin1(name);
    }
    const QString allowed = names.size() == 1 ? names.first()
                                              : names.mid(0, names.size() - 1).join(QStringLiteral(", "))
                                                    + QStringLiteral(" or ") + names.last();
    throw UsageError(QStringLiteral("--%1 needs %2, not \"%3\"").arg(option, allowed, text));
}

int wholeNumber(const QString &option, const QString &text, int lowest, int highest)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < lowest || value > highest)
        throw UsageError(QStringLiteral("--%1 needs a whole number from %2 to %3, not \"%4\"")
                             .arg(option)
                             .arg(lowest)
                             .arg(highest)
                             .arg(text));
    return value;
}

} // namespace

namespace {

// The parser's complaint about the command line, as a one-line error.
[[noreturn]] void refuse(const QCommandLineParser &parser)
{
    if (!parser.unknownOptionNames().isEmpty())
        throw UsageError(QStringLiteral("unknown option --%1").arg(parser.unknownOptionNames().first()));
    QString complaint = parser.errorText(); // "Missing value after '--jobs'."
    complaint[0] = complaint.at(0).toLower();
    if (complaint.endsWith(u'.'))
        complaint.chop(1);
    throw UsageError(complaint);
}

double timeoutSeconds(const QString &text)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds <= 0 || seconds > 86400 * 7)
        throw UsageError(QStringLiteral("--timeout needs a number of seconds above 0, not \"%1\"").arg(text));
    return seconds;
}

double marginPoints(const QString &text)
{
    bool ok = false;
    const double points = text.toDouble(&ok);
    if (!ok || !std::isfinite(points) || points < 0 || points > 1000)
        throw UsageError(QStringLiteral("--margin needs a number of points from 0 to 1000, not \"%1\"").arg(text));
    return points;
}

void readShard(const QString &text, BatchCommandLine &command)
{
    const QStringList parts = text.split(u'/');
    bool shardOk = false, shardsOk = false;
    command.shard = parts.value(0).toInt(&shardOk);
    command.shards = parts.value(1).toInt(&shardsOk);
    if (parts.size() != 2 || !shardOk || !shardsOk || command.shards < 1 || command.shard < 1
        || command.shard > command.shards)
        throw UsageError(QStringLiteral("--shard needs K/N with 1 <= K <= N, not \"%1\"").arg(text));
}

// The options that choose what the image is to be.
void readImageChoices(const QCommandLineParser &parser, const Options &options, BatchCommandLine &command)
{
    using Image = GhostscriptPolicy::Image;
    if (parser.isSet(options.format))
        command.format = oneOf<Image::Format>(QStringLiteral("format"), parser.value(options.format),
                                              {{"jpeg", Image::Format::Jpeg}, {"png", Image::Format::Png}});
    if (parser.isSet(options.background))
        command.background = oneOf<Image::Background>(QStringLiteral("background"), parser.value(options.background),
                                                      {{"white", Image::Background::White},
                                                       {"transparent", Image::Background::Transparent}});
    if (parser.isSet(options.antialias))
        command.antialias = oneOf<Image::Antialias>(QStringLiteral("antialias"), parser.value(options.antialias),
                                                    {{"graphics", Image::Antialias::Graphics},
                                                     {"all", Image::Antialias::All},
                                                     {"none", Image::Antialias::None}});
    if (parser.isSet(options.crop))
        command.crop = oneOf<Image::Crop>(QStringLiteral("crop"), parser.value(options.crop),
                                          {{"box", Image::Crop::Box}, {"drawing", Image::Crop::Drawing}});
    if (parser.isSet(options.chroma))
        command.chroma = oneOf<Image::Chroma>(QStringLiteral("chroma"), parser.value(options.chroma),
                                              {{"half", Image::Chroma::Half}, {"full", Image::Chroma::Full}});
    if (parser.isSet(options.pages))
        command.eachPage = oneOf<bool>(QStringLiteral("pages"), parser.value(options.pages),
                                       {{"one", false}, {"each", true}});
    if (parser.isSet(options.margin))
        command.margin = marginPoints(parser.value(options.margin));
}

// The options that take a value, each checked on its own.
void readValues(const QCommandLineParser &parser, const Options &options, BatchCommandLine &command)
{
    const auto number = [&](const QCommandLineOption &option, int lowest, int highest) -> std::optional<int> {
        if (!parser.isSet(option))
            return std::nullopt;
        return wholeNumber(option.names().first(), parser.value(option), lowest, highest);
    };
    command.quality = number(options.quality, 0, 100);
    command.resolution = number(options.resolution, 1, 10000);
    command.width = number(options.width, 1, 65500); // as large as a JPEG may be
    command.height = number(options.height, 1, 65500);
    command.jobs = number(options.jobs, 1, 1024);
    command.memoryLimitMegabytes = number(options.memoryLimit, 64, 1024 * 1024);
    command.maxOutputMegabytes = number(options.maxOutput, 1, 1024 * 1024);
    if (parser.isSet(options.output)) {
        command.outputFolder = nameOf(QStringLiteral("output"), parser.value(options.output));
        if (command.outputFolder->isEmpty())
            throw UsageError(QStringLiteral("--output needs a folder"));
    }
    if (parser.isSet(options.timeout))
        command.timeoutSeconds = timeoutSeconds(parser.value(options.timeout));
    if (parser.isSet(options.extension)) {
        command.extension = parser.value(options.extension);
        if (command.extension.isEmpty())
            throw UsageError(QStringLiteral("--extension needs an extension such as eps, or * for all files"));
    }
    if (parser.isSet(options.filesFrom))
        command.filesFrom = nameOf(QStringLiteral("files-from"), parser.value(options.filesFrom));
    if (parser.isSet(options.report))
        command.report = nameOf(QStringLiteral("report"), parser.value(options.report));
    if (parser.isSet(options.shard))
        readShard(parser.value(options.shard), command);
    if (parser.isSet(options.skipExisting))
        command.skipNewer = oneOf<bool>(QStringLiteral("skip-existing"), parser.value(options.skipExisting),
                                        {{"newer", true}});
    readImageChoices(parser, options, command);
}

// The options that only make sense together, or apart.
void checkCombinations(const BatchCommandLine &command)
{
    if (command.outputFolder && command.beside)
        throw UsageError(QStringLiteral("--output and --beside exclude each other"));
    if (command.mirror && !command.outputFolder)
        throw UsageError(QStringLiteral("--mirror goes with --output"));
    if (command.nullSeparated && !command.filesFrom)
        throw UsageError(QStringLiteral("--null goes with --files-from"));
    if (command.background == GhostscriptPolicy::Image::Background::Transparent
        && command.format != GhostscriptPolicy::Image::Format::Png)
        throw UsageError(QStringLiteral("--background transparent goes with --format png: a JPEG has no transparency"));
    if (command.chroma == GhostscriptPolicy::Image::Chroma::Full
        && command.format != GhostscriptPolicy::Image::Format::Jpeg)
        throw UsageError(QStringLiteral("--chroma full goes with --format jpeg: a PNG keeps every colour"));
    if (command.resolution && (command.width || command.height))
        throw UsageError(
            QStringLiteral("--resolution and --width or --height exclude each other: the size sets the resolution"));
    if (command.margin && command.crop != GhostscriptPolicy::Image::Crop::Drawing)
        throw UsageError(QStringLiteral("--margin goes with --crop drawing"));
    if (command.paths.isEmpty() && !command.filesFrom)
        throw UsageError(QStringLiteral("no files or folders to convert"));
}

} // namespace

BatchCommandLine parseBatchCommandLine(const QStringList &arguments)
{
    const Options options;
    QCommandLineParser parser;
    options.addTo(parser);
    if (!parser.parse(QStringList{QStringLiteral("pellucor-batch")} + arguments))
        refuse(parser);
    BatchCommandLine command;
    command.help = parser.isSet(options.help);
    command.version = parser.isSet(options.version);
    if (command.help || command.version)
        return command;
    command.paths = parser.positionalArguments();
    command.beside = parser.isSet(options.beside);
    command.mirror = parser.isSet(options.mirror);
    command.quiet = parser.isSet(options.quiet);
    command.nullSeparated = parser.isSet(options.null);
    readValues(parser, options, command);
    checkCombinations(command);
    return command;
}

QString batchUsage()
{
    const Options options;
    QCommandLineParser parser;
    options.addTo(parser);
    // The parser names the program as it was called; the text names it as installed.
    QString text = parser.helpText();
    text.replace(0, text.indexOf(QLatin1String(" [options]")), QStringLiteral("Usage: pellucor-batch"));
    return text;
}

QStringList pathsFromList(const QByteArray &list, bool nullSeparated)
{
    QStringList paths;
    for (QByteArray entry : list.split(nullSeparated ? '\0' : '\n')) {
        // A list written on Windows ends its lines with CR LF; a NUL-separated
        // list holds names as they are, CR and all.
        if (!nullSeparated && entry.endsWith('\r'))
            entry.chop(1);
        if (!entry.isEmpty())
            paths.append(Platform::TextOfName(entry));
    }
    return paths;
}

QList<qsizetype> shardOf(const QStringList &files, int shard, int shards)
{
    // Equal names (a name given twice) keep their order: every machine deals the same.
    QList<qsizetype> sorted(files.size());
    std::iota(sorted.begin(), sorted.end(), 0);
    std::stable_sort(sorted.begin(), sorted.end(), [&](qsizetype a, qsizetype b) { return files.at(a) < files.at(b); });
    QList<qsizetype> part;
    for (qsizetype i = shard - 1; i < sorted.size(); i += shards)
        part.append(sorted.at(i));
    return part;
}
