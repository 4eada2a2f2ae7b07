#include "batchrun.h"

#include "engine/batchengine.h"

#include <algorithm>

QList<BatchReport> RunBatch(const QList<BatchItem> &items, const BatchSettings &settings)
{
    QList<BatchReport> reports;
    {
        BatchEngine engine(items, settings);
        QObject::connect(&engine, &BatchEngine::itemDone, [&](const BatchReport &report) { reports << report; });
        engine.run();
    }
    std::stable_sort(reports.begin(), reports.end(),
                     [](const BatchReport &a, const BatchReport &b) { return a.index < b.index; });
    return reports;
}

QStringList ReportLines(const QList<BatchReport> &reports)
{
    QStringList lines;
    for (const BatchReport &report : reports)
        lines << QStringLiteral("%1 %2 %3")
                     .arg(QString::number(report.index), QString::number(int(report.converted)), report.message);
    return lines;
}
