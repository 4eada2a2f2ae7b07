#pragma once

#include "pathhelpers.h"
#include "shell32.h"

#include "sandbox/ghostscriptpolicy.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>

// The Ghostscript job: a two-line script in the working folder that renders
// the staged current.eps into current.jpg and then deletes current.eps.
namespace GhostscriptJob {

inline const QString StagedInputName = QStringLiteral("current.eps");
inline const QString StagedOutputName = QStringLiteral("current.jpg");
// The working folder of the jobs: TEMP (private to the user, see
// FileSystem::TempFolder) followed by "ps". Only the path; nothing is created.
QString WorkingFolder();

// The policy's switches for such an image, without the files.
QStringList GhostscriptSwitches(const GhostscriptPolicy::Image &image);

// Makes `temporary` a real, empty folder of this user's, closed to others:
// anything else at its name goes first; a folder is emptied, never removed
// (a job started ahead may have its own file system mounted there). Throws
// when it cannot be made so.
void PrepareTemporaryFolder(const QString &temporary);

// Ghostscript's temporary folder below `runFolder`, prepared as above and
// named in `environment`; returns its path.
QString FreshTemporaryFolder(const QString &runFolder, QProcessEnvironment &environment);

// "eps2jpg.bat" on Windows, "eps2jpg.sh" on Linux.
QString ScriptName(PathFlavour flavour = NativeFlavour);

// The line ending of the script: CR LF on Windows, LF on Linux.
QString LineEnd(PathFlavour flavour = NativeFlavour);

// The script without its final line end: the Ghostscript line, then the
// deletion of the staged input.
QString ScriptText(int quality, PathFlavour flavour = NativeFlavour);

// Creates or empties `path` and writes `text` followed by a line end.
// Failures (missing folder, no permission, full disk) reach the caller.
void SaveStringToFile(const QString &path, const QString &text, PathFlavour flavour = NativeFlavour);

// Writes the script again when it no longer holds `text`: a job taken over
// by its file may have rewritten it for the entries after it.
void RestoreScript(const QString &path, const QString &text);

// The programs a job in `workingFolder` may start: the shell, the
// Ghostscript the script finds first (one copied beside it wins over the
// system's) and rm for the script's second line.
std::vector<std::string> JobPrograms(const QString &workingFolder);

// Runs the script of `workingFolder` hidden, there, inside the window job's
// sandbox, with a fresh empty temporary folder for Ghostscript, and waits for
// it to end, at most `timeLimit`. Ending Unconfined when the sandbox could
// not be made or applied (nothing then ran); the message is Ghostscript's
// error line, if it wrote one, or why the sandbox was refused.
Shell32::WaitResult RunJob(const QString &workingFolder,
                           std::chrono::milliseconds timeLimit = GhostscriptPolicy::Limits().time);

// The jobs of one run in `workingFolder`, each as RunJob runs one. Their
// sandbox is made once, with the rules of the run's start; where a start
// can be held (Sandbox::canHold), a job's process and sandbox are started
// ahead, while the job before it runs, and its script runs only when its
// turn comes, after everything before it. Ghostscript's temporary folder
// is emptied before and after each job, and goes when the jobs do.
class Jobs
{
public:
    explicit Jobs(const QString &workingFolder, std::chrono::milliseconds timeLimit = GhostscriptPolicy::Limits().time);
    // A job started ahead that never got its turn ends without running anything.
    ~Jobs();
    Jobs(const Jobs &) = delete;
    Jobs &operator=(const Jobs &) = delete;

    // Starts the next job ahead, unless one waits already.
    void startAhead();
    // Runs the next job as RunJob does; with `another`, the one after it is
    // started ahead while it runs.
    Shell32::WaitResult run(bool another = false);

private:
    QString m_folder;
    QString m_shellFolder; // as the shell is given it, with a separator at its end
    QString m_temporary;
    QString m_command;
    bool m_ownGhostscript;
    Shell32::WaitOptions m_options;
    std::unique_ptr<Sandbox> m_sandbox;
    Shell32::GShellResult m_ahead;     // the next job's process, held
    Shell32::GShellResult m_finishing; // the last job's, its sandbox winding down
};

// The line in which the sandbox's own programs said why they could not set
// it up; "" when there is none.
QString SandboxRefusal(const QByteArray &output);

// The "Error: ..." line in what Ghostscript printed; "" when there is none.
QString GhostscriptError(const QByteArray &output);

// The fonts Ghostscript said it substituted, once each, in its own words
// ("Substituting font Courier for Foo").
QStringList FontWarnings(const QByteArray &output);

// True for what Ghostscript says when all goes well (its greeting, the fonts
// it looks for and loads), which is no reason for anything.
bool IsInformational(const QByteArray &line);

// Ghostscript's words made fit to show: what a broken file makes it quote
// may be any bytes at all.
QString PrintableText(const QByteArray &bytes);

// True for a file a run left that is a file itself, no link and no folder:
// what a run leaves is read outside its sandbox, where a link would make
// whatever it names, another file's image too, the run's.
bool IsLeftAsFile(const QString &path);

// Why a run that left such a thing at `path` has no image.
QString NotAFileReason(const QString &path);

// True for an image of the format that ends where it should: a job stopped
// while writing leaves one without its end marker.
bool IsCompleteImage(const QString &path, GhostscriptPolicy::Image::Format format);

} // namespace GhostscriptJob
