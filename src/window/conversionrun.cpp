#include "conversionrun.h"

#include "engine/ghostscriptjob.h"
#include "engine/outputnames.h"
#include "engine/pathhelpers.h"

#include "engine/shell32.h"

#include "common/errorreport.h"
#include "common/filesystem.h"
#include "common/platform.h"
#include "common/runtimeerror.h"
#include "common/shell.h"
#include "common/userprompts.h"

#include <QEventLoop>
#include <QTimer>

#include <cmath>
#include <memory>
#include <optional>

const QString ConversionRun::Location = procedureLocation(QStringLiteral("Form1"), QStringLiteral("PushButton2_Click"));
const QString ConversionRun::WaitingCaption = QStringLiteral("Waiting for another conversion to finish...");
const QString ConversionRun::IdleCaption = QStringLiteral("Progress Bar");

namespace {

const QString CrLf = QStringLiteral("\r\n");

// Every instance of the program shares the working folder: one run at a time
// holds its lock, and a second one waits (window alive) until it is free.
// Returns nullptr when the window closed while waiting.
std::unique_ptr<Platform::FileLock> LockWorkingFolder(const QString &workingFolder, ConversionView &view)
{
    auto lock = std::make_unique<Platform::FileLock>(workingFolder + QStringLiteral(".lock"));
    if (lock->tryLock())
        return lock;

    const QString caption = view.ProgressCaption();
    const PointerKind pointer = view.MousePointer();
    view.SetMousePointer(PointerKind::Busy);
    view.SetProgressCaption(ConversionRun::WaitingCaption);
    QEventLoop loop;
    QTimer poll;
    std::optional<RuntimeError> refused; // something that is no lock put at its name meanwhile
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        try {
            if (view.Closing() || lock->tryLock())
                loop.quit();
        } catch (const RuntimeError &error) {
            refused = error;
            loop.quit();
        }
    });
    poll.start(100);
    loop.exec();
    if (!lock->isLocked() && !refused)
        return nullptr;
    view.SetProgressCaption(caption);
    view.SetMousePointer(pointer);
    if (refused)
        throw *refused;
    return lock;
}

// Why a job that ended so left no image, in the words the batch uses too.
QString JobFailureReason(const Shell32::WaitResult &result, std::chrono::milliseconds limit)
{
    RunEndings::Details details;
    details.number = result.exitCode;
    details.words = result.message;
    details.limits.time = limit;
    return RunEndings::Reason(result.ending, details);
}

// Marks the run busy for as long as it walks its entries.
class BusyScope
{
public:
    explicit BusyScope(bool &busy) : m_busy(busy) { m_busy = true; }
    ~BusyScope() { m_busy = false; }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

private:
    bool &m_busy;
};

} // namespace

int ConversionRun::ProgressPercent(int index, int count)
{
    return static_cast<int>(std::nearbyint(static_cast<double>(index) / count * 100.0));
}

QString ConversionRun::ClosingMessage(int entries, const QList<FailedEntry> &failed)
{
    QString message = QStringLiteral("Done.");
    if (failed.isEmpty())
        return message;
    message += CrLf + CrLf + QStringLiteral("%1 of %2 files produced no image:").arg(failed.size()).arg(entries);
    for (qsizetype i = 0; i < failed.size() && i < NamedFailuresShown; ++i)
        message += CrLf + failed.at(i).path + QStringLiteral(" (") + failed.at(i).reason + u')';
    if (failed.size() > NamedFailuresShown)
        message += CrLf + QStringLiteral("and %1 more").arg(failed.size() - NamedFailuresShown);
    return message;
}

void ConversionRun::PushButton2_Click(ConversionView &view)
{
    GuardedProcedure run(Location);
    if (run.test(100, [&] { return m_isConverting; }))
        return;
    run.step(102, [&] { m_isConverting = true; });
    run.step(104, [] { Shell::ProcessPendingEvents(); });
    if (view.Closing())
        return;

    // Every instance shares the working folder: without its lock the folder
    // is not used at all.
    QString work;
    std::unique_ptr<Platform::FileLock> lock;
    run.step(106, [&] {
        work = GhostscriptJob::WorkingFolder();
        lock = LockWorkingFolder(work, view);
    });
    if (view.Closing())
        return;
    bool usable = false;
    if (lock) {
        run.step(108, [&] {
            FileSystem::EnsurePrivateFolder(work);
            usable = true; // a missing Ghostscript folder is reported, but the system's gs still serves
            // Whatever an earlier job left (a folder at a fixed name, say) must not reach this run.
            FileSystem::EmptyFolder(work);
            FileSystem::CopyFolder(FileSystem::ApplicationFolder() + PathSeparator() + QStringLiteral("ps"), work);
        });
    }
    if (usable) {
        // The closing messages wait for the user: another instance need not.
        if (run.test(110, [&] { return view.EntryCount() == 0; })) {
            lock->unlock();
            run.step(200, [] { ShowMessage(QStringLiteral("No files added.")); });
        } else if (run.test(112, [&] { return !FolderExists(view.OutputFolderText()); })) {
            lock->unlock();
            run.step(198, [] { ShowMessage(QStringLiteral("Folder does not exist. Please select another folder.")); });
        } else {
            ConvertEntries(run, view, work, *lock);
        }
    }
    if (view.Closing())
        return;
    run.step(202, [&] { m_isConverting = false; });
}

struct ConversionRun::Entry
{
    QString input;
    FileSystem::NameFidelity fidelity = FileSystem::NameFidelity::Faithful;
};

struct ConversionRun::JobFiles
{
    explicit JobFiles(const QString &folder)
        : work(folder), script(folder + PathSeparator() + GhostscriptJob::ScriptName()),
          staged(folder + PathSeparator() + GhostscriptJob::StagedInputName),
          image(folder + PathSeparator() + GhostscriptJob::StagedOutputName)
    {
    }
    QString work, script, staged, image;
    QString scriptText;
    std::optional<GhostscriptJob::Jobs> jobs; // the run's, made before its first entry
};

void ConversionRun::ConvertEntries(GuardedProcedure &run, ConversionView &view, const QString &work,
                                   Platform::FileLock &lock)
{
    JobFiles files(work);
    run.step(114, [&] { DeleteFileQuietly(files.script); });
    run.step(116, [&] { files.scriptText = GhostscriptJob::ScriptText(view.QualityValue()); });
    run.step(118, [&] { GhostscriptJob::SaveStringToFile(files.script, files.scriptText); });

    // The entries as they stand now, each converted once: entries added
    // meanwhile lie beyond them, and one moved meanwhile is not met twice.
    QList<Entry> entries;
    run.step(120, [&] {
        for (int i = 1, n = view.EntryCount(); i <= n; ++i)
            entries.append({view.EntryText(i), view.EntryFidelity(i)});
    });
    QList<FailedEntry> failed;
    {
        const BusyScope busy(m_busy);
        // Their sandbox is made once, and the first job is started (held
        // until its turn) while the first entry is staged.
        files.jobs.emplace(files.work, m_jobTimeLimit);
        files.jobs->startAhead();
        for (int i = 1; i <= entries.size(); ++i) {
            if (!ConvertEntry(run, view, files, i, entries.at(i - 1), i < entries.size(), failed))
                return;
        }
    }

    files.jobs.reset(); // a job started ahead for no entry goes with it
    lock.unlock(); // the working folder is done with
    run.step(190, [&] { view.SetMousePointer(PointerKind::Default); });
    run.step(192, [&] { view.SetProgressValue(0); });
    run.step(194, [&] { view.SetProgressCaption(IdleCaption); });
    run.step(196, [&] { ShowMessage(ClosingMessage(int(entries.size()), failed)); });
}

bool ConversionRun::ConvertEntry(GuardedProcedure &run, ConversionView &view, JobFiles &files, int i,
                                 const Entry &entry, bool another, QList<FailedEntry> &failed)
{
    run.step(122, [&] { view.SetMousePointer(PointerKind::Busy); });
    QString input;
    run.step(124, [&] { input = entry.input; });
    run.step(126, [&] { view.SetProgressValue(ProgressPercent(i, view.EntryCount())); });
    run.step(128, [&] { view.SetProgressCaption(QStringLiteral("Processing: ") + FileNameOfPath(input)); });
    run.step(130, [] { Shell::ProcessPendingEvents(); });
    if (view.Closing())
        return false;
    // An entry whose text names another file, or none, is never staged.
    if (entry.fidelity != FileSystem::NameFidelity::Faithful) {
        failed.append({input, FileSystem::UnfaithfulReason(entry.fidelity)});
        return true;
    }

    // With neither output option selected the window's default mode, the
    // chosen folder, applies.
    QString output;
    if (view.ChosenFolderSelected() || !view.InputFolderSelected())
        run.step(148, [&] { output = ChosenFolderOutput(view.OutputFolderText(), input); });
    else
        run.step(152, [&] { output = InputFolderOutput(input); });
    run.step(154, [&] { output = NormalizePath(output); });

    run.step(156, [&] { DeleteFileQuietly(files.staged); });
    // An image left by an earlier job must not pass for this entry's, and
    // a folder it planted at either name must not stop this one.
    run.step(156, [&] {
        RemoveFileQuietly(files.image);
        FileSystem::RemoveTree(files.staged);
        FileSystem::RemoveTree(files.image);
    });
    run.step(158, [&] { view.SetMousePointer(PointerKind::Busy); });
    // A working copy: the disk need not have it before the job reads it.
    run.step(160, [&] { FileSystem::CopyFile(input, files.staged, FileSystem::Durability::Transient); });
    // The copy is complete when it returns; one that could not be made
    // leaves nothing to convert, so there is nothing to wait for.
    if (!FileSystem::PlainFileExists(files.staged)) {
        failed.append({input, QStringLiteral("the file could not be read")});
        return true;
    }

    bool abandoned = false;
    const QString reason = RunJobAndKeepImage(run, view, files, output, another, abandoned);
    if (abandoned)
        return false;
    if (!reason.isEmpty())
        failed.append({input, reason});
    return !view.Closing();
}

QString ConversionRun::RunJobAndKeepImage(GuardedProcedure &run, ConversionView &view, JobFiles &files,
                                          const QString &output, bool another, bool &abandoned)
{
    Shell32::WaitResult result;
    run.step(168, [&] {
        GhostscriptJob::RestoreScript(files.script, files.scriptText);
        result = files.jobs->run(another);
    });
    abandoned = result.ending == RunEnding::Abandoned || view.Closing();
    if (abandoned)
        return {};
    run.step(170, [&] { view.SetMousePointer(PointerKind::Busy); });
    // The job deletes the staged copy as its last command; a job that never
    // ran or was stopped did not, so it goes here.
    if (FileExists(files.staged))
        RemoveFileQuietly(files.staged);

    // An image from a job that failed or was stopped may be partial; so is
    // one without its end, from a Ghostscript killed while writing.
    if (run.test(178, [&] { return !result.ended() || !FileExists(files.image); })) {
        RemoveFileQuietly(files.image);
        return JobFailureReason(result, m_jobTimeLimit);
    }
    if (!GhostscriptJob::IsLeftAsFile(files.image)) {
        RemoveFileQuietly(files.image);
        return GhostscriptJob::NotAFileReason(files.image);
    }
    if (!GhostscriptJob::IsCompleteImage(files.image, GhostscriptPolicy::Image::Format::Jpeg)) {
        RemoveFileQuietly(files.image);
        return QStringLiteral("Ghostscript stopped before the image was complete");
    }
    const bool saved = run.step(180, [&] { FileSystem::CopyFile(files.image, output); });
    run.step(182, [] { Shell::ProcessPendingEvents(); });
    run.step(184, [] { Shell::ProcessPendingEvents(); });
    run.step(186, [&] { DeleteFileQuietly(files.image); });
    return saved ? QString() : QStringLiteral("the image could not be saved as ") + output;
}
