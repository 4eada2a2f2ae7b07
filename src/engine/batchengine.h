#pragma once

#include "batchreport.h"
#include "batchsettings.h"
#include "outputwriter.h"
#include "renderworker.h"
#include "warmrenderer.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

// Where page `page` of a file whose image is `output` goes when each page
// has an image of its own: "name-2.jpg" beside "name.jpg".
QString PageOutput(const QString &output, int page);

// Converts many files with a few workers at once, each file in a process of
// its own, with the bytes a separate run of each file would give. Results
// replace existing files atomically. Where several inputs share an output
// name only the first is rendered; each later one is reported failed, so no
// image overwrites another of the same batch unnoticed.
class BatchEngine : public QObject
{
    Q_OBJECT

public:
    BatchEngine(QList<BatchItem> items, BatchSettings settings, QObject *parent = nullptr);
    ~BatchEngine() override;

    // Converts everything; returns when every file has its report, or after stop.
    void run();
    // Ends the run at once: what is being rendered is abandoned, unreported.
    void stop();

signals:
    void itemDone(const BatchReport &report);

private:
    void dispatch(RenderWorker *worker);
    void received(RenderWorker *worker, const RenderWorker::Outcome &outcome);
    // Names the file's images and hands them to the writer.
    void commit(int index, const RenderWorker::Outcome &outcome);
    // Reports what the writer has saved.
    void collectSaved();
    void report(BatchReport done);
    // Reports the refused and up-to-date files from the next one on; false when none is left to render.
    bool skipUnrendered();

    // An output name as it is compared: without case where the file system ignores it.
    static QString nameKey(const QString &output);

    QList<BatchItem> m_items;
    BatchSettings m_settings;
    WorkFolder m_folder; // removed last, when nothing writes there any more
    std::unique_ptr<WarmRenderer> m_renderer;
    std::unique_ptr<OutputWriter> m_writer;
    QHash<QString, int> m_owners; // which file each output name is the image of
    QHash<QString, int> m_pageOwners; // which file each page's image name went to
    QList<RenderWorker *> m_workers;
    QHash<RenderWorker *, int> m_working; // which file each worker renders
    QHash<int, QElapsedTimer> m_clocks;   // since each file's rendering started
    int m_next = 0;
    int m_reported = 0;
    int m_rendered = 0; // files not refused
    bool m_stopped = false;
    class QEventLoop *m_loop = nullptr;
};
