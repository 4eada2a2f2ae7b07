#pragma once

#include "common/runtimeerror.h"
#include "common/shell.h"
#include "runending.h"
#include "sandbox/ghostscriptpolicy.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

// Starting a program through the shell and waiting for it to end.
namespace Shell32 {

// Base of application-defined error numbers (hexadecimal 80040000).
inline constexpr int ApplicationErrorBase = -2147221504;
// Base of the numbers given to shell results without an error of their own.
inline constexpr int ShellErrorBase = ApplicationErrorBase + 1048;

struct ShellError
{
    int number;
    QString message;
};

// The error that a failed shell result (0 to 32) stands for.
ShellError ShellErrorFor(int result);

// The show mode a start really uses: hidden for any file whose name holds
// ".EXE" (any case), and a normal window whenever neither parameters nor a
// folder are given.
int EffectiveShowMode(const QString &file, int showMode, const QString &parameters, const QString &folder);

// The show mode a wait uses: 6 (minimized) when missing or outside 0 to 6.
int ShowModeForWait(std::optional<int> showMode);

struct GShellResult
{
    int result = 0;                      // above 32: started; 0 to 32: failed
    std::optional<RuntimeError> error;   // recorded for a failed result, never thrown
    std::unique_ptr<QProcess> process;   // the started program, to wait for
};

// Starts a document or program through the shell. Failures are recorded in
// the result's error, with the number and message of the shell's table.
GShellResult GShell(const QString &file, int showMode, const QString &parameters, const QString &folder,
                    const QString &verb, qintptr ownerWindow, const Shell::StartExtras &extras = {});

struct WaitOptions
{
    // A program that never ends must not hang the window.
    std::chrono::milliseconds timeLimit = GhostscriptPolicy::Limits().time;
    QProcessEnvironment environment; // added to the started program's environment
    QByteArray *output = nullptr;     // receives the end of what the program printed, when given
    const Sandbox *sandbox = nullptr; // the program runs inside it, when given
    // The mark a held program was released with (see Shell::Release): the
    // wait ends at the line its sandbox ends with, which `output` does not
    // keep, with the status given there. The sandbox may still be winding
    // down then: its process stays in the start's result.
    QByteArray endMark;
};

// How a wait for a program, or a job, ended.
struct WaitResult
{
    RunEnding ending = RunEnding::Exited;
    int exitCode = 0; // with Exited; with NotStarted, the recorded error's number
    QString message;  // why it did not start or run, or what it said last

    bool ended() const { return ending == RunEnding::Exited; }
    bool operator==(const WaitResult &) const = default;
};

// Runs `command` with the verb "open" in `workingFolder` and waits for it to
// end, letting window events run meanwhile; a program still running at the
// time limit or when the application quits is stopped with what it started.
// `showMode`, when given, receives the mode used.
WaitResult ShellAndWait(const QString &command, int *showMode, const QString &workingFolder,
                        const WaitOptions &options = {});

// ShellAndWait in parts, for a start made ahead of its turn. Start starts
// `command` as ShellAndWait does, or, `held`, with its sandbox (then
// required) made at once but the program held before it runs anything of
// its own (see Shell::StartExtras::held) until Release. Wait waits for it
// as ShellAndWait does. A start that failed is recorded in the result's
// error. A held program that is never released runs nothing, and ends when
// its process is closed.
GShellResult Start(const QString &command, int *showMode, const QString &workingFolder, const WaitOptions &options,
                   bool held = false);
void Release(GShellResult &started, const QByteArray &endMark = {});
WaitResult Wait(GShellResult &started, const WaitOptions &options);

} // namespace Shell32
