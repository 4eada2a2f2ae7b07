#pragma once

#include "pathhelpers.h"
#include "shell32.h"

#include "common/sandbox.h"

#include <QString>

#include <chrono>

// The Ghostscript job: a two-line script in the working folder that renders
// the staged current.eps into current.jpg and then deletes current.eps.
namespace GhostscriptJob {

inline const QString StagedInputName = QStringLiteral("current.eps");
inline const QString StagedOutputName = QStringLiteral("current.jpg");
// Ghostscript's own temporary folder below the working folder. Safe mode lets
// a PostScript file write there, so it holds nothing else and is emptied
// after every job.
inline const QString PrivateTempName = QStringLiteral("gstmp");

// The bounds of one Ghostscript run, in the window's jobs and the batch's
// files alike: no EPS file needs more, and a hostile one must not take the
// machine's memory or disk.
inline constexpr int MemoryLimitMegabytes = 2048;
inline constexpr int OutputLimitMegabytes = 1024;
// Processes one job may have at once: its shell, Ghostscript and rm, and room
// for a Ghostscript of the application folder's own that is a script.
inline constexpr unsigned JobProcessLimit = 64;
// How a program ends that its sandbox refused to start.
inline constexpr int SandboxRefusedStatus = 125;

// The working folder of the jobs: TEMP (private to the user, see
// FileSystem::TempFolder) followed by "ps". Only the path; nothing is created.
QString WorkingFolder();

// Creates the working folder private to the user, or checks that the
// existing one is, and refreshes it from `runtimeFolder` (the application
// folder's Ghostscript folder). Failures reach the caller.
void PrepareWorkingFolder(const QString &workingFolder, const QString &runtimeFolder);

// "eps2jpg.bat" on Windows, "eps2jpg.sh" on Linux.
QString ScriptName(PathFlavour flavour = NativeFlavour);

// The line ending of the script: CR LF on Windows, LF on Linux.
QString LineEnd(PathFlavour flavour = NativeFlavour);

// Ghostscript's switches for a JPEG of the given quality, without the files.
QString GhostscriptSwitches(int quality);

// The script without its final line end: the Ghostscript line, then the
// deletion of the staged input.
QString ScriptText(int quality, PathFlavour flavour = NativeFlavour);

// Creates or empties `path` and writes `text` followed by a line end.
// Failures (missing folder, no permission, full disk) reach the caller.
void SaveStringToFile(const QString &path, const QString &text, PathFlavour flavour = NativeFlavour);

// Writes the script again when it no longer holds `text`: a job taken over
// by its file may have rewritten it for the entries after it.
void RestoreScript(const QString &path, const QString &text);

// The sandbox of a job in `workingFolder`: it reads what Ghostscript needs,
// writes in the working folder only, and starts the shell, the Ghostscript
// the script finds first (one copied beside it wins over the system's) and
// rm for the script's second line, nothing else; within the bounds above and
// processor time behind `timeLimit`.
Sandbox::Rules jobSandboxRules(const QString &workingFolder, std::chrono::milliseconds timeLimit);

// Runs the script of `workingFolder` hidden, there, inside the sandbox above, with a fresh empty
// temporary folder for Ghostscript, and waits for it to end. Returns what
// Shell32::ShellAndWait returns, or Shell32::UnconfinedResult when the
// sandbox could not be made or applied (nothing then ran); `message`, when
// given, receives Ghostscript's error line, if it wrote one, or why the
// sandbox was refused.
int RunJob(const QString &workingFolder, std::chrono::milliseconds timeLimit = Shell32::JobTimeLimit,
           QString *message = nullptr);

// The line in which the sandbox's own programs said why they could not set
// it up; "" when there is none.
QString SandboxRefusal(const QByteArray &output);

// Why a run past its time limit has no image.
QString TimeLimitReason(std::chrono::milliseconds limit);

// The "Error: ..." line in what Ghostscript printed; "" when there is none.
QString GhostscriptError(const QByteArray &output);

// Ghostscript's words made fit to show: what a broken file makes it quote
// may be any bytes at all.
QString PrintableText(const QByteArray &bytes);

// True for a JPEG that ends where it should: a job stopped while writing
// leaves one without its end marker.
bool IsCompleteJpeg(const QString &path);

} // namespace GhostscriptJob
