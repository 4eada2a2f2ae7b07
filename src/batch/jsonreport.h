#pragma once

#include "engine/batchengine.h"

#include <QFile>
#include <QMap>

// The --report of pellucor-batch: one JSON object a line for every input, in
// input order, written and flushed as soon as the file and every file before
// it are done, so that a pipeline can follow the run.
class JsonReport
{
public:
    // Writes to `path`, "-" for standard output; UsageError when it cannot.
    void open(const QString &path);
    void add(const BatchItem &item, const BatchReport &report);
    // Writes what still waits for a file before it that never finished (a stopped run).
    void finish();

private:
    void write(const QByteArray &line);

    QFile m_file;
    int m_next = 0; // the index whose line comes next
    QMap<int, QByteArray> m_waiting;
};
