#pragma once

#include "common/runtimeerror.h"
#include "common/shell.h"

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

// How long one job may run before it is stopped: no EPS file needs longer,
// and a job that never ends must not hang the program.
inline constexpr std::chrono::milliseconds JobTimeLimit = std::chrono::minutes(10);

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
    std::chrono::milliseconds timeLimit = JobTimeLimit;
    QProcessEnvironment environment; // added to the started program's environment
    QByteArray *output = nullptr;     // receives the end of what the program printed, when given
    const Sandbox *sandbox = nullptr; // the program runs inside it, when given
};

// How much of a program's output a wait keeps: its last words, never a flood.
inline constexpr qsizetype OutputKept = 16 * 1024;

// Runs `command` with the verb "open" in `workingFolder` and waits for it to
// end, letting window events run meanwhile. Returns the exit code, or an
// error code: StartErrorResult of the recorded start error, TimedOutResult
// when the time limit ran out (the program and what it started are then
// stopped), EndedBySignalResult when it was killed, or AbandonedResult when
// the application quits meanwhile (the program is then stopped too).
// `showMode`, when given, receives the mode used.
int ShellAndWait(const QString &command, int *showMode, const QString &workingFolder,
                 const WaitOptions &options = {});

// What a wait returns for a start error: its number plus ApplicationErrorBase
// in 32-bit arithmetic. The numbers that already lie on a base wrap round to
// positive results (31 gives 525367).
int StartErrorResult(int number);

// Results of a wait that did not see the program end by itself. No start
// error gives them: the table's own numbers are 7 or more, the others wrap.
inline constexpr int EndedBySignalResult = ApplicationErrorBase + 1; // crashed or killed from outside
inline constexpr int AbandonedResult = ApplicationErrorBase + 2;    // the application is quitting
inline constexpr int TimedOutResult = ApplicationErrorBase + 3;     // stopped at the time limit
inline constexpr int UnconfinedResult = ApplicationErrorBase + 4;   // its sandbox could not be had: not run

} // namespace Shell32
