#pragma once

#include "common/filesystem.h"
#include "common/platform.h"
#include "common/pointerkind.h"
#include "sandbox/ghostscriptpolicy.h"

#include <QList>
#include <QString>

#include <chrono>

// What the conversion run reads from and shows in the window.
class ConversionView
{
public:
    virtual ~ConversionView() = default;
    virtual int EntryCount() const = 0;
    virtual QString EntryText(int index) const = 0; // 1-based
    // Whether the entry's text names its file (see FileSystem::NameFidelity).
    virtual FileSystem::NameFidelity EntryFidelity(int index) const = 0;
    virtual bool ChosenFolderSelected() const = 0;  // "Save results to this folder:"
    virtual bool InputFolderSelected() const = 0;   // "Save results in folder of original file"
    virtual QString OutputFolderText() const = 0;
    virtual int QualityValue() const = 0;
    virtual void SetProgressValue(int value) = 0;
    virtual QString ProgressCaption() const = 0;
    virtual void SetProgressCaption(const QString &caption) = 0;
    virtual PointerKind MousePointer() const = 0;
    virtual void SetMousePointer(PointerKind kind) = 0;
    // True once the window is closing: the run then ends at once.
    virtual bool Closing() const = 0;
};

// An entry that produced no image, and why.
struct FailedEntry
{
    QString path;
    QString reason;
};

// The Start button: converts every listed file with one Ghostscript job each.
class ConversionRun
{
public:
    static const QString Location;
    static const QString WaitingCaption;
    static const QString IdleCaption; // the progress bar's caption between runs
    static constexpr int NamedFailuresShown = 10;

    // The run itself, step by step; see the numbered steps in the source.
    void PushButton2_Click(ConversionView &view);

    bool IsConverting() const { return m_isConverting; }
    // True while the run walks its entries: the list's removal operations
    // then do nothing, whatever the pointer shows.
    bool IsBusy() const { return m_busy; }
    void setJobTimeLimit(std::chrono::milliseconds limit) { m_jobTimeLimit = limit; }

    // The bar's share for entry `index` of `count`, rounded half to even.
    static int ProgressPercent(int index, int count);
    // "Done.", and when entries failed, how many of how many and which.
    static QString ClosingMessage(int entries, const QList<FailedEntry> &failed);

private:
    struct Entry;
    struct JobFiles;
    void ConvertEntries(class GuardedProcedure &run, ConversionView &view, const QString &workingFolder,
                        Platform::FileLock &lock);
    // One round of the loop; false when the run must end at once.
    // `another`: an entry follows, whose job may be started ahead.
    bool ConvertEntry(GuardedProcedure &run, ConversionView &view, JobFiles &files, int i, const Entry &entry,
                      bool another, QList<FailedEntry> &failed);
    // Runs the job on the staged copy and keeps its image; why not, or "".
    QString RunJobAndKeepImage(GuardedProcedure &run, ConversionView &view, JobFiles &files, const QString &output,
                               bool another, bool &abandoned);

    bool m_isConverting = false;
    bool m_busy = false;
    std::chrono::milliseconds m_jobTimeLimit = GhostscriptPolicy::Limits().time;
};
