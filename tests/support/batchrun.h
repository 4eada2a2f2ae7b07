#pragma once

#include "engine/batchreport.h"
#include "engine/batchsettings.h"

#include <QList>
#include <QStringList>

// Converts `items` with a batch engine and returns its reports in the order
// of the items, whatever order the files finished in. The engine, and with
// it every folder it worked in, is gone when this returns.
QList<BatchReport> RunBatch(const QList<BatchItem> &items, const BatchSettings &settings);

// Each report as "index converted message" ("2 0 not a regular file"): what
// became of each file at a glance, for one comparison of them all.
QStringList ReportLines(const QList<BatchReport> &reports);
