#pragma once

#include "sandbox/ghostscriptpolicy.h"

#include <chrono>
#include <string>
#include <vector>

#include <sys/types.h>

class Sandbox;
class WarmInterpreter;

// One file to render: the id its answer carries, the child's own folder,
// the input, and PostScript run just before it.
struct RenderRequest
{
    std::string id;
    std::string folder;
    std::string input;
    std::string prologue;
};

// What holds for every child: its bounds, and whether its pages come from
// Ghostscript as PPM, to be encoded as JPEGs with full colour detail at
// `encodeQuality` (below 0: Ghostscript's pages are the images).
struct ChildSettings
{
    GhostscriptPolicy::Limits limits;
    int encodeQuality = -1;
};

// How a child ended: one of the endings of RenderProtocol and its number.
struct RenderEnding
{
    const char *ending;
    int number;
};

// A request that has ended, and how.
struct RenderAnswer
{
    std::string id;
    RenderEnding ending;
};

// The children at work, each rendering one request, forked from
// `interpreter` in its folder (made for this child alone, where its pages,
// messages and temporary files go) and watched within the limits (each
// one's wall clock runs from before its input is opened). A child reads
// nothing but /dev/null, dies with this process, applies `sandbox` (made
// once for all of them) with its input and folder added, and keeps no
// descriptor but the standard ones, so that nothing it does reaches the
// channel to pellucor-batch or another child. With `ownNamespaces` (this
// process is in namespaces of its own) a child gets PID, mount and IPC
// namespaces of its own and writes to a file system of its own, as large as
// its output may be, whose pages and messages are then kept in its folder;
// nothing else of it outlives it.
class RenderChildren
{
public:
    RenderChildren(WarmInterpreter &interpreter, Sandbox &sandbox, const ChildSettings &settings, bool ownNamespaces);
    ~RenderChildren();
    RenderChildren(const RenderChildren &) = delete;
    RenderChildren &operator=(const RenderChildren &) = delete;

    // Starts a child for the request; false, with the answer, when it could
    // not be started (its input is unreadable, say).
    bool start(const RenderRequest &request, RenderAnswer &refused);
    size_t running() const { return m_children.size(); }
    // Takes the children that have ended, by themselves or by their limits,
    // out of those running, so that the next may start before what they
    // left is kept.
    void reap();
    // The requests of the children reaped, once what they left is kept.
    std::vector<RenderAnswer> answerReaped();
    // How long the caller may sleep before reap() has something to check.
    int millisecondsToNextCheck() const;
    // Forks the child that takes the next request, unless one is waiting:
    // the fork and the child's own preparation are then out of the way of
    // the next file. False when no child can be made.
    bool prepareNext();
    // Ends every child and waits until each is gone.
    void stopAll();

private:
    // A child forked ahead of its request, waiting for it on `requests`.
    struct Waiting
    {
        pid_t pid = -1;
        int requests = -1; // the renderer's end: the request, then end of file
        int alive = -1;
        std::string folder; // where it will write: its own file system in namespaces, else its request's folder
    };
    struct Child
    {
        std::string id;
        std::string folder; // the request's folder, where what it leaves is kept
        std::string writes; // where it writes
        pid_t pid;
        int alive;  // held while the child lives: its end hangs up only when the renderer is gone
        int keep;   // in namespaces, the request's folder, to keep what it left in; else -1
        std::chrono::steady_clock::time_point deadline;
    };

    RenderEnding finish(Child &child, RenderEnding ending);
    RenderEnding stop(pid_t pid, const char *ending);
    void endWaiting();

    WarmInterpreter &m_interpreter;
    Sandbox &m_sandbox;
    ChildSettings m_settings;
    bool m_ownNamespaces;
    std::vector<Child> m_children;
    std::vector<std::pair<Child, RenderEnding>> m_reaped;
    Waiting m_next;
    std::string m_home; // the renderer's folder, where children in namespaces get their file systems
    std::chrono::steady_clock::time_point m_nextMeasure;
};
