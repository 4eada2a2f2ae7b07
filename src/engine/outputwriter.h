#pragma once

#include "batchreport.h"
#include "batchsettings.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// Puts the batch's images in place on a thread of its own, so that no file
// waits for another's to be saved and no renderer for the disk. Each image
// reaches its output with one copy at most (moved where the folders share a
// file system) and is on disk before the rename that shows it: one that
// replaces a file is synced by itself, new ones together, as many as are
// waiting, with one sync of their file system.
class OutputWriter
{
public:
    // `saved` is called on the writer's thread whenever reports are ready.
    OutputWriter(const BatchSettings &settings, std::function<void()> saved);
    // Saves what it was handed first.
    ~OutputWriter();
    OutputWriter(const OutputWriter &) = delete;
    OutputWriter &operator=(const OutputWriter &) = delete;

    // `report` comes back when `images` are in place under its outputs
    // (converted) or could not be (its message says why); either way once
    // `folder`, the file's own, is gone.
    void save(const BatchReport &report, const QStringList &images, const QString &folder);
    // The reports of what was saved since the last call.
    QList<BatchReport> takeSaved();
    // Returns once everything handed over is saved.
    void waitUntilIdle();

private:
    struct Job
    {
        BatchReport report;
        QStringList images;
        QString folder;
    };
    void run();
    void saveGroup(std::deque<Job> &group);

    BatchSettings m_settings;
    std::function<void()> m_savedCallback;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Job> m_waiting;
    QList<BatchReport> m_saved;
    int m_busy = 0; // jobs taken and not yet saved
    bool m_ending = false;
    std::thread m_thread;
};
