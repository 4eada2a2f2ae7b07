#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include <memory>

class Sandbox;

// The shell and event-loop services the program stands on: starting a
// program or script the way the platform's shell does, ending it, and
// letting pending window events run.
namespace Shell {

// Window show modes of a started program.
enum ShowMode {
    Hidden = 0,
    Normal = 1,
    MinimizedWithFocus = 2,
    ShowCurrent = 5,
    Minimized = 6,
};

// Result codes of a start: above LastFailureCode means started.
enum StartCode {
    OutOfResources = 0,
    FileNotFoundCode = 2,
    PathNotFoundCode = 3,
    AccessDeniedCode = 5,
    NoAssociationCode = 31,
    LastFailureCode = 32,
    StartedCode = 42,
};

struct StartResult
{
    int code = OutOfResources;
    std::unique_ptr<QProcess> process; // set when the start succeeded
};

// What a start adds to the platform's way of starting a program.
struct StartExtras
{
    QProcessEnvironment environment;  // added to the inherited environment
    bool keepOutput = false;          // output on the process's read channel, else discarded
    const Sandbox *sandbox = nullptr; // applied in the child before the program runs; kept by the caller
    // With a sandbox that can hold (Sandbox::canHold): the sandbox is made now, the program
    // runs only once Release() is called; its standard input is /dev/null then.
    bool held = false;
};

// Starts `file` (which may be enclosed in double quotes) in `folder`, the way
// the shell's "open" does. On Linux a ".sh" file runs under /bin/sh and any
// other executable file runs itself; `folder` becomes the current folder and
// comes first on PATH, so a program placed there wins. The started program
// runs in a process group of its own, with no console and its output
// discarded unless `extras` keeps it; its window starts in `showMode`
// where the platform lets the starter choose (see Platform::ApplyShowMode).
StartResult Execute(const QString &verb, const QString &file, const QString &parameters, const QString &folder,
                    int showMode, const StartExtras &extras = {});

// A program set up to start the way Execute starts one: in `folder` (first
// on PATH), in a process group of its own, with `extraEnvironment` added and
// inside `sandbox` when one is given (a child the sandbox refuses to take
// ends at once with status 125), held when asked (see StartExtras). Its
// channels are left to the caller.
std::unique_ptr<QProcess> PrepareProgram(const QString &program, const QStringList &arguments, const QString &folder,
                                         const QProcessEnvironment &extraEnvironment = {},
                                         const Sandbox *sandbox = nullptr, bool held = false);

// Lets a program started held run. With a `mark` (letters and digits), its
// sandbox ends its output with a line of the mark and the program's status
// once everything the program started has ended. False when it can no
// longer be told, having ended meanwhile.
bool Release(QProcess &process, const QByteArray &mark = {});

// Ends a started program and everything it started in turn.
void KillProcessTree(QProcess &process);

// Lets the window events that are waiting run, then returns.
void ProcessPendingEvents();

} // namespace Shell
