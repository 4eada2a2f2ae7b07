#include "batchcommandline.h"

#include <cmath>

namespace {

int WholeNumber(const QString &option, const QString &text, int lowest, int highest)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < lowest || value > highest)
        throw UsageError(QStringLiteral("%1 needs a whole number from %2 to %3, not \"%4\"")
                             .arg(option).arg(lowest).arg(highest).arg(text));
    return value;
}

} // namespace

BatchCommandLine ParseBatchCommandLine(const QStringList &arguments)
{
    BatchCommandLine command;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString argument = arguments.at(i);
        if (optionsEnded || !argument.startsWith(QLatin1String("--")) || argument == QLatin1String("--")) {
            if (!optionsEnded && argument == QLatin1String("--"))
                optionsEnded = true;
            else
                command.paths.append(argument);
            continue;
        }
        // "--name=value" and "--name value" mean the same.
        QString value;
        bool inlineValue = false;
        if (const qsizetype equals = argument.indexOf(u'='); equals > 0) {
            value = argument.mid(equals + 1);
            argument.truncate(equals);
            inlineValue = true;
        }
        const auto takeValue = [&]() -> QString {
            if (inlineValue)
                return value;
            if (i + 1 >= arguments.size())
                throw UsageError(argument + QStringLiteral(" needs a value"));
            return arguments.at(++i);
        };
        if (argument == QLatin1String("--help")) {
            command.help = true;
        } else if (argument == QLatin1String("--quiet")) {
            command.quiet = true;
        } else if (argument == QLatin1String("--beside")) {
            command.beside = true;
        } else if (argument == QLatin1String("--output")) {
            command.outputFolder = takeValue();
            if (command.outputFolder->isEmpty())
                throw UsageError(QStringLiteral("--output needs a folder"));
        } else if (argument == QLatin1String("--quality")) {
            command.quality = WholeNumber(argument, takeValue(), 0, 100);
        } else if (argument == QLatin1String("--resolution")) {
            command.resolution = WholeNumber(argument, takeValue(), 1, 10000);
        } else if (argument == QLatin1String("--jobs")) {
            command.jobs = WholeNumber(argument, takeValue(), 1, 1024);
        } else if (argument == QLatin1String("--timeout")) {
            const QString text = takeValue();
            bool ok = false;
            const double seconds = text.toDouble(&ok);
            if (!ok || !std::isfinite(seconds) || seconds <= 0 || seconds > 86400 * 7)
                throw UsageError(QStringLiteral("--timeout needs a number of seconds above 0, not \"%1\"").arg(text));
            command.timeoutSeconds = seconds;
        } else if (argument == QLatin1String("--memory-limit")) {
            command.memoryLimitMegabytes = WholeNumber(argument, takeValue(), 64, 1024 * 1024);
        } else if (argument == QLatin1String("--max-output")) {
            command.maxOutputMegabytes = WholeNumber(argument, takeValue(), 1, 1024 * 1024);
        } else if (argument == QLatin1String("--extension")) {
            command.extension = takeValue();
            if (command.extension.isEmpty())
                throw UsageError(QStringLiteral("--extension needs an extension such as eps, or * for all files"));
        } else {
            throw UsageError(QStringLiteral("unknown option %1").arg(argument));
        }
    }
    if (command.help)
        return command;
    if (command.outputFolder && command.beside)
        throw UsageError(QStringLiteral("--output and --beside exclude each other"));
    if (command.paths.isEmpty())
        throw UsageError(QStringLiteral("no files or folders to convert"));
    return command;
}

QString BatchUsage()
{
    return QStringLiteral(
        "Usage: pellucor-batch [options] PATH...\n"
        "Converts EPS files to JPEG images with Ghostscript, many at a time.\n"
        "\n"
        "Files are converted as given; folders are searched, with every folder below\n"
        "them, for files with the extension (names starting with \"~\" and hidden\n"
        "files are left out, links to folders are not followed).\n"
        "\n"
        "Options:\n"
        "  --output DIR       put every image in DIR\n"
        "  --beside           put each image beside its input file\n"
        "  --quality N        JPEG quality, 0 to 100\n"
        "  --resolution DPI   render at DPI dots per inch (Ghostscript's default without it)\n"
        "  --extension EXT    extension to search folders for (default eps, * for all files)\n"
        "  --jobs N           files rendered at once (default: the number of cores)\n"
        "  --timeout SECONDS  time limit for one file (default 600)\n"
        "  --memory-limit MB  memory one file may use (default: 2048, or less on a\n"
        "                     machine whose memory shared among the jobs is less)\n"
        "  --max-output MB    bytes one file may write while it is rendered (default 1024)\n"
        "  --quiet            no progress, no summary but the failures\n"
        "  --help             show this text\n"
        "\n"
        "Without --output, --beside or --quality the choices last made in the Pellucor\n"
        "window are used. Existing images are replaced.\n"
        "\n"
        "Exit status: 0 when every file converted, 1 when some failed, 2 for bad usage.\n");
}
