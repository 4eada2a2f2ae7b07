#include "progressreporter.h"

#include "common/platform.h"

namespace {

QString Duration(double seconds)
{
    const qint64 whole = qRound64(seconds);
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QChar(u'0'));
}

} // namespace

QString escapedForTerminal(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code == u'\\')
            shown += QLatin1String("\\\\");
        else if (code == u'\n')
            shown += QLatin1String("\\n");
        else if (code == u'\r')
            shown += QLatin1String("\\r");
        else if (code == u'\t')
            shown += QLatin1String("\\t");
        else if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) // C0, DEL and C1 (0x9B opens a sequence too)
            shown += QStringLiteral("\\x%1").arg(int(code), 2, 16, QChar(u'0'));
        else
            shown += c;
    }
    return shown;
}

ProgressReporter::ProgressReporter(int total, bool quiet, std::FILE *stream)
    : m_total(total), m_quiet(quiet), m_stream(stream)
{
    m_terminal = Platform::IsTerminal(stream);
    m_clock.start();
}

QString ProgressReporter::barLine(int done, int failed, int total, double seconds, int width)
{
    const int filled = total > 0 ? int(qint64(width) * done / total) : width;
    const double rate = seconds > 0 ? done / seconds : 0;
    const QString left = rate > 0 ? Duration((total - done) / rate) + QStringLiteral(" left")
                                  : QStringLiteral("-:-- left");
    return QStringLiteral("[%1%2] %3/%4 files, %5 failed, %6 files/s, %7")
        .arg(QString(filled, u'#'), QString(width - filled, u'.'))
        .arg(done)
        .arg(total)
        .arg(failed)
        .arg(rate, 0, 'f', 1)
        .arg(left);
}

void ProgressReporter::done(const QString &input, const BatchReport &report)
{
    ++m_done;
    if (report.skipped) {
        ++m_skipped;
    } else if (!report.converted) {
        ++m_failed;
        m_failures.append({input, report.message});
    } else if (!report.warnings.isEmpty()) {
        m_substituted.append({input, report.warnings.join(QStringLiteral("; "))});
    }
    show(m_done == m_total);
}

void ProgressReporter::show(bool force)
{
    if (m_quiet)
        return;
    const qint64 now = m_clock.elapsed();
    // A terminal gets ten redraws a second; a log file a line every two seconds.
    if (!force && now - m_lastShown < (m_terminal ? 100 : 2000))
        return;
    m_lastShown = now;
    const double seconds = now / 1000.0;
    if (m_terminal) {
        std::fprintf(m_stream, "\r%s\033[K", qPrintable(barLine(m_done, m_failed, m_total, seconds, 30)));
        if (force)
            std::fputc('\n', m_stream);
    } else {
        std::fprintf(m_stream, "%d of %d files: %d converted, %d failed%s\n", m_done, m_total,
                     m_done - m_failed - m_skipped, m_failed, qPrintable(skippedText()));
    }
    std::fflush(m_stream);
}

QString ProgressReporter::skippedText() const
{
    return m_skipped > 0 ? QStringLiteral(", %1 up to date and skipped").arg(m_skipped) : QString();
}

void ProgressReporter::stopped(const QString &why)
{
    if (m_terminal && !m_quiet && m_done < m_total)
        std::fputc('\n', m_stream); // the bar's line is still open
    std::fprintf(m_stream, "pellucor-batch: stopped (%s) with %d of %d files not converted.\n",
                 qPrintable(escapedForTerminal(why)), m_total - m_done, m_total);
}

int ProgressReporter::finish()
{
    const double seconds = m_clock.elapsed() / 1000.0;
    if (!m_quiet)
        std::fprintf(m_stream, "Converted %d of %d files in %.1f s%s.\n", m_done - m_failed - m_skipped, m_total,
                     seconds, qPrintable(skippedText()));
    if (!m_quiet && !m_substituted.isEmpty()) {
        std::fprintf(m_stream, "%d %s converted with substituted fonts:\n", int(m_substituted.size()),
                     m_substituted.size() == 1 ? "file" : "files");
        for (const auto &[input, fonts] : m_substituted)
            std::fprintf(m_stream, "  %s: %s\n", qPrintable(escapedForTerminal(input)),
                         qPrintable(escapedForTerminal(fonts)));
    }
    if (!m_failures.isEmpty()) {
        std::fprintf(m_stream, "%d failed:\n", int(m_failures.size()));
        for (const auto &[input, message] : m_failures)
            std::fprintf(m_stream, "  %s: %s\n", qPrintable(escapedForTerminal(input)),
                         qPrintable(escapedForTerminal(message)));
    }
    std::fflush(m_stream);
    return m_failed;
}
