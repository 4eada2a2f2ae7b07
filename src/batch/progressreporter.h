#pragma once

#include "engine/batchengine.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <cstdio>

// `text` as it may go to a terminal: control characters escaped (ESC as
// \x1b, a line end as \n, a tab as \t) and a backslash doubled, so that no
// name can move the cursor, recolour or retitle the terminal, and an escape
// is never mistaken for characters of the name.
QString escapedForTerminal(const QString &text);

// Shows how a batch goes on the error output: a bar redrawn in place on a
// terminal, a plain line now and then otherwise. At the end, the summary
// names every file that failed with the reason.
class ProgressReporter
{
public:
    ProgressReporter(int total, bool quiet, std::FILE *stream = stderr);

    void done(const QString &input, const BatchReport &report);
    // Says that the run was stopped by `why` before every file was done.
    void stopped(const QString &why);
    // Prints the summary; returns the number of failed files.
    int finish();

    // "[####......] 40/100 files, 1 failed, 12.3 files/s, 0:05 left", `width` columns of bar.
    static QString barLine(int done, int failed, int total, double seconds, int width);

private:
    void show(bool force);
    QString skippedText() const;

    int m_total;
    bool m_quiet;
    std::FILE *m_stream;
    bool m_terminal;
    int m_done = 0;
    int m_failed = 0;
    int m_skipped = 0;
    QList<QPair<QString, QString>> m_failures;
    QList<QPair<QString, QString>> m_substituted; // converted with fonts Ghostscript substituted

    QElapsedTimer m_clock;
    qint64 m_lastShown = -1000000;
};
