#include "runending.h"

#include "renderer/renderprotocol.h"

#include "common/platform.h"
#include "common/runtimeerror.h"

#include <QDir>

#include <cstring>
#include <utility>

namespace RunEndings {

RunEnding FromProtocol(QStringView word)
{
    static const std::pair<const char *, RunEnding> Words[] = {
        {RenderProtocol::Exited, RunEnding::Exited},         {RenderProtocol::Signalled, RunEnding::Signalled},
        {RenderProtocol::TimedOut, RunEnding::TimedOut},     {RenderProtocol::OutputTooLarge, RunEnding::Outgrown},
        {RenderProtocol::NotRegular, RunEnding::NotRegular}, {RenderProtocol::Unreadable, RunEnding::Unreadable},
        {RenderProtocol::NotStarted, RunEnding::NotStarted}, {RenderProtocol::Unconfined, RunEnding::Unconfined},
        {RenderProtocol::NoSpace, RunEnding::NoSpace},       {RenderProtocol::Unkept, RunEnding::Unkept},
    };
    for (const auto &[said, ending] : Words) {
        if (word == QLatin1String(said))
            return ending;
    }
    return RunEnding::NotStarted;
}

QString Reason(RunEnding ending, const Details &details)
{
    const auto withWords = [&](const QString &reason) {
        return details.words.isEmpty() ? reason : reason + QStringLiteral(": ") + details.words;
    };
    switch (ending) {
    case RunEnding::Exited:
        return details.words.isEmpty() ? QStringLiteral("Ghostscript produced no image") : details.words;
    case RunEnding::TimedOut: return TimeLimitReason(details.limits.time);
    case RunEnding::Outgrown: return OutputLimitReason(details.limits.outputMegabytes);
    case RunEnding::Signalled:
        // The sandbox's limits end a run with a signal of their own.
        if (Platform::IsProcessorTimeLimit(details.number))
            return TimeLimitReason(details.limits.time);
        if (Platform::IsFileSizeLimit(details.number))
            return OutputLimitReason(details.limits.outputMegabytes);
        return withWords(QStringLiteral("Ghostscript ended abnormally"));
    case RunEnding::Unconfined:
        return withWords(QStringLiteral("not converted: the sandbox around Ghostscript could not be applied"));
    case RunEnding::NotRegular: return QStringLiteral("not a regular file");
    case RunEnding::Unreadable:
        return errorFromErrno(details.number, details.input, QStringLiteral("RenderWorker")).description();
    case RunEnding::NoSpace: return DiskFullReason(details.temporaryFolder);
    case RunEnding::Unkept:
        return QStringLiteral("the image could not be kept: ") + QString::fromLocal8Bit(std::strerror(details.number));
    case RunEnding::Abandoned: return QStringLiteral("stopped: the program was closing");
    case RunEnding::NotStarted: break;
    }
    const QString why = !details.words.isEmpty() ? details.words
                        : details.number != 0    ? QString::fromLocal8Bit(std::strerror(details.number))
                                                 : QString();
    return QStringLiteral("Ghostscript could not be started")
           + (why.isEmpty() ? QString() : QStringLiteral(": ") + why);
}

QString TimeLimitReason(std::chrono::milliseconds limit)
{
    return QStringLiteral("stopped after running %1 seconds").arg(limit.count() / 1000.0);
}

QString OutputLimitReason(int megabytes)
{
    return QStringLiteral("output larger than %1 MB").arg(megabytes);
}

QString DiskFullReason(const QString &folder)
{
    return QStringLiteral("the disk of the temporary folder is full (%1)").arg(QDir::toNativeSeparators(folder));
}

} // namespace RunEndings
