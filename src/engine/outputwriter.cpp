#include "outputwriter.h"

#include "common/filesystem.h"
#include "common/platform.h"
#include "common/runtimeerror.h"
#include "renderer/trace.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <memory>
#include <optional>
#include <vector>

namespace {

// One file's images, staged beside their outputs.
struct Staged
{
    BatchReport *report;
    std::vector<std::unique_ptr<FileSystem::StagedFile>> files;
    bool failed = false;
};

void saveFailed(BatchReport &report, const QString &why)
{
    report.message = QStringLiteral("the image could not be saved: ") + why;
    report.outputs.clear();
}

// The new files of a group together where there are several: one sync of
// each folder's file system (which also waits for whatever else was written
// there, so a single file is synced by itself).
void syncNewFiles(std::vector<Staged> &staged)
{
    std::vector<std::pair<Staged *, FileSystem::StagedFile *>> fresh;
    for (Staged &files : staged)
        for (auto &file : files.files)
            if (!file->replacesFile())
                fresh.emplace_back(&files, file.get());
    QSet<QString> synced;
    for (auto &[files, file] : fresh) {
        const QString folder = QFileInfo(files->report->outputs.constFirst()).path();
        if (synced.contains(folder))
            continue;
        try {
            if (fresh.size() > 1 && file->syncFileSystem())
                synced.insert(folder);
            else
                file->sync();
        } catch (const RuntimeError &error) {
            saveFailed(*files->report, error.description());
            files->failed = true;
        }
    }
}

void commitStaged(std::vector<Staged> &staged)
{
    for (Staged &files : staged) {
        try {
            for (auto &file : files.files)
                if (!files.failed)
                    file->commit();
            files.report->converted = !files.failed;
        } catch (const RuntimeError &error) {
            saveFailed(*files.report, error.description());
        }
    }
}

} // namespace

OutputWriter::OutputWriter(const BatchSettings &settings, std::function<void()> saved)
    : m_settings(settings), m_savedCallback(std::move(saved)), m_thread([this] { run(); })
{
}

OutputWriter::~OutputWriter()
{
    {
        const std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void OutputWriter::save(const BatchReport &report, const QStringList &images, const QString &folder)
{
    {
        const std::lock_guard lock(m_mutex);
        m_waiting.push_back({report, images, folder});
    }
    m_changed.notify_all();
}

QList<BatchReport> OutputWriter::takeSaved()
{
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_saved, {});
}

void OutputWriter::waitUntilIdle()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_waiting.empty() && m_busy == 0; });
}

void OutputWriter::run()
{
    for (;;) {
        std::deque<Job> group;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_ending || !m_waiting.empty(); });
            if (m_waiting.empty())
                return;
            group.swap(m_waiting);
            m_busy = int(group.size());
        }
        saveGroup(group);
        {
            const std::lock_guard lock(m_mutex);
            for (Job &job : group)
                m_saved.append(std::move(job.report));
            m_busy = 0;
        }
        m_changed.notify_all();
        m_savedCallback();
    }
}

void OutputWriter::saveGroup(std::deque<Job> &group)
{
    // Staged first, every file of the group: a replaced one is synced by itself.
    std::vector<Staged> staged;
    std::vector<std::unique_ptr<Platform::FolderBeneath>> folders; // held until the renames are done
    for (Job &job : group) {
        BatchReport &report = job.report;
        if (job.images.isEmpty())
            continue;
        Staged files{&report, {}, false};
        try {
            const QFileInfo first(report.outputs.constFirst());
            QString targetFolder = first.path();
            if (m_settings.makeOutputFolders) {
                // Below the output folder, never through a link found on the way.
                folders.push_back(std::make_unique<Platform::FolderBeneath>(
                    m_settings.outputFolder, QDir(m_settings.outputFolder).relativeFilePath(first.path())));
                targetFolder = folders.back()->path();
            }
            for (qsizetype page = 0; page < job.images.size(); ++page) {
                files.files.push_back(std::make_unique<FileSystem::StagedFile>(
                    job.images.at(page), targetFolder + u'/' + QFileInfo(report.outputs.at(page)).fileName(),
                    FileSystem::StagedFile::Source::Moved));
                if (files.files.back()->replacesFile())
                    files.files.back()->sync();
            }
            staged.push_back(std::move(files));
        } catch (const RuntimeError &error) {
            QString why = error.description();
            if (m_settings.makeOutputFolders && !folders.empty())
                why.replace(folders.back()->path(), folders.back()->shownPath());
            saveFailed(report, why);
        }
    }
    syncNewFiles(staged);
    // Only then the renames that show them.
    commitStaged(staged);
    for (const Job &job : group) {
        if (!job.folder.isEmpty())
            QDir(job.folder).removeRecursively();
        Trace::stamp("writer", std::to_string(job.report.index), "saved");
    }
}
