#include "conversionrun.h"

#include "ghostscriptjob.h"
#include "outputnames.h"
#include "pathhelpers.h"

#include "common/errorreport.h"
#include "common/filesystem.h"
#include "common/runtimeerror.h"
#include "common/shell.h"
#include "common/userprompts.h"

#include <QEventLoop>
#include <QLockFile>
#include <QTimer>

#include <cmath>
#include <memory>

const QString ConversionRun::Location = procedureLocation(QStringLiteral("Form1"), QStringLiteral("PushButton2_Click"));
const QString ConversionRun::WaitingCaption = QStringLiteral("Waiting for another conversion to finish...");
const QString ConversionRun::IdleCaption = QStringLiteral("Progress Bar");

namespace {

const QString CrLf = QStringLiteral("\r\n");

// Every instance of the program shares the working folder: one run at a time
// holds its lock, and a second one waits (window alive) until it is free.
// Returns nullptr when the window closed while waiting.
std::unique_ptr<QLockFile> LockWorkingFolder(const QString &workingFolder, ConversionView &view)
{
    auto lock = std::make_unique<QLockFile>(workingFolder + QStringLiteral(".lock"));
    lock->setStaleLockTime(0); // a long job is no sign of a dead owner; a dead owner is detected anyway
    if (lock->tryLock(0))
        return lock;
    if (lock->error() != QLockFile::LockFailedError)
        throw RuntimeError(RuntimeError::PathFileAccessError,
                           QStringLiteral("The lock of the working folder cannot be made: %1.lock")
                               .arg(workingFolder),
                           QStringLiteral("ConversionRun"));

    const QString caption = view.ProgressCaption();
    const PointerKind pointer = view.MousePointer();
    view.SetMousePointer(PointerKind::Busy);
    view.SetProgressCaption(ConversionRun::WaitingCaption);
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (view.Closing() || lock->tryLock(0))
            loop.quit();
    });
    poll.start(100);
    loop.exec();
    if (!lock->isLocked())
        return nullptr;
    view.SetProgressCaption(caption);
    view.SetMousePointer(pointer);
    return lock;
}

bool JobFailed(int result)
{
    return result < 0;
}

QString JobFailureReason(int result, std::chrono::milliseconds limit, const QString &said)
{
    if (result == Shell32::TimedOutResult)
        return GhostscriptJob::TimeLimitReason(limit);
    if (result == Shell32::EndedBySignalResult)
        return QStringLiteral("Ghostscript was ended from outside");
    if (result == Shell32::UnconfinedResult)
        return QStringLiteral("not converted: the sandbox around Ghostscript could not be applied")
               + (said.isEmpty() ? QString() : QStringLiteral(": ") + said);
    return QStringLiteral("Ghostscript could not be started");
}

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
    message += CrLf + CrLf
               + QStringLiteral("%1 of %2 files produced no image:").arg(failed.size()).arg(entries);
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

    // In place of creating the file-system object: find the working folder
    // and take its lock. Without the lock the folder is not used at all.
    QString work;
    std::unique_ptr<QLockFile> lock;
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

void ConversionRun::ConvertEntries(GuardedProcedure &run, ConversionView &view, const QString &work, QLockFile &lock)
{
    const QChar separator = PathSeparator();
    const QString script = work + separator + GhostscriptJob::ScriptName();
    const QString staged = work + separator + GhostscriptJob::StagedInputName;
    const QString image = work + separator + GhostscriptJob::StagedOutputName;

    run.step(114, [&] { DeleteFileQuietly(script); });
    QString scriptText;
    run.step(116, [&] { scriptText = GhostscriptJob::ScriptText(view.QualityValue()); });
    run.step(118, [&] { GhostscriptJob::SaveStringToFile(script, scriptText); });

    int n = 0;
    run.step(120, [&] { n = view.EntryCount(); });
    int entries = 0;
    QList<FailedEntry> failed;
    // Entries added meanwhile lie beyond n; if entries were removed meanwhile
    // the run ends with the last one there is.
    for (int i = 1; i <= n && i <= view.EntryCount(); ++i) {
        run.step(122, [&] { view.SetMousePointer(PointerKind::Busy); });
        QString input;
        FileSystem::NameFidelity fidelity = FileSystem::NameFidelity::Faithful;
        run.step(124, [&] {
            input = view.EntryText(i);
            fidelity = view.EntryFidelity(i);
        });
        ++entries;
        run.step(126, [&] { view.SetProgressValue(ProgressPercent(i, view.EntryCount())); });
        run.step(128, [&] { view.SetProgressCaption(QStringLiteral("Processing: ") + FileNameOfPath(input)); });
        run.step(130, [] { Shell::ProcessPendingEvents(); });
        if (view.Closing())
            return;
        // An entry whose text names another file, or none, is never staged.
        if (fidelity != FileSystem::NameFidelity::Faithful) {
            failed.append({input, FileSystem::UnfaithfulReason(fidelity)});
            continue;
        }

        // 132-152: the output path for the selected mode. With neither option
        // selected the window's default mode, the chosen folder, applies.
        QString output;
        if (view.ChosenFolderSelected() || !view.InputFolderSelected())
            run.step(148, [&] { output = ChosenFolderOutput(view.OutputFolderText(), input); });
        else
            run.step(152, [&] { output = InputFolderOutput(input); });
        run.step(154, [&] { output = NormalizePath(output); });

        run.step(156, [&] { DeleteFileQuietly(staged); });
        // An image left by an earlier job must not pass for this entry's, and
        // a folder it planted at either name must not stop this one.
        run.step(156, [&] {
            DeleteFileQuietly(image);
            FileSystem::RemoveTree(staged);
            FileSystem::RemoveTree(image);
        });
        run.step(158, [&] { view.SetMousePointer(PointerKind::Busy); });
        run.step(160, [&] { FileSystem::CopyFile(input, staged); });
        // 162-166: the copy is complete when it returns; one that could not
        // be made leaves nothing to convert, so there is nothing to wait for.
        if (!FileSystem::PlainFileExists(staged)) {
            failed.append({input, QStringLiteral("the file could not be read")});
            continue;
        }

        int result = 0;
        QString ghostscriptSaid;
        run.step(168, [&] {
            GhostscriptJob::RestoreScript(script, scriptText);
            result = GhostscriptJob::RunJob(work, m_jobTimeLimit, &ghostscriptSaid);
        });
        if (result == Shell32::AbandonedResult || view.Closing())
            return;
        run.step(170, [&] { view.SetMousePointer(PointerKind::Busy); });
        // 172-176: the job deletes the staged copy as its last command; a job
        // that never ran or was stopped did not, so it goes here.
        if (FileExists(staged))
            DeleteFileQuietly(staged);

        // 178: an image from a job that failed or was stopped may be partial;
        // so is one without its end, from a Ghostscript killed while writing.
        if (run.test(178, [&] { return JobFailed(result) || !FileExists(image); })) {
            failed.append({input, JobFailed(result) ? JobFailureReason(result, m_jobTimeLimit, ghostscriptSaid)
                                  : ghostscriptSaid.isEmpty() ? QStringLiteral("Ghostscript produced no image")
                                                              : ghostscriptSaid});
            DeleteFileQuietly(image);
            continue;
        }
        if (!GhostscriptJob::IsCompleteJpeg(image)) {
            failed.append({input, QStringLiteral("Ghostscript stopped before the image was complete")});
            DeleteFileQuietly(image);
            continue;
        }
        const bool saved = run.step(180, [&] { FileSystem::CopyFile(image, output); });
        run.step(182, [] { Shell::ProcessPendingEvents(); });
        run.step(184, [] { Shell::ProcessPendingEvents(); });
        run.step(186, [&] { DeleteFileQuietly(image); });
        if (!saved)
            failed.append({input, QStringLiteral("the image could not be saved as ") + output});
        if (view.Closing())
            return;
    }

    lock.unlock(); // the working folder is done with
    run.step(190, [&] { view.SetMousePointer(PointerKind::Default); });
    run.step(192, [&] { view.SetProgressValue(0); });
    run.step(194, [&] { view.SetProgressCaption(IdleCaption); });
    run.step(196, [&] { ShowMessage(ClosingMessage(entries, failed)); });
}
