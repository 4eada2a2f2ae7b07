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
    // Ends every child and waits until each is gone.
    void stopAll();

private:
    struct Child
    {
        std::string id;
        std::string folder;
        pid_t pid;
        int alive;  // held while the child lives: its end hangs up only when the renderer is gone
        int below;  // the folder below the child's own file system, -1 without one
        std::chrono::steady_clock::time_point deadline;
    };

    RenderEnding finish(Child &child, RenderEnding ending);
    RenderEnding stop(Child &child, const char *ending);

    WarmInterpreter &m_interpreter;
    Sandbox &m_sandbox;
    ChildSettings m_settings;
    bool m_ownNamespaces;
    std::vector<Child> m_children;
    std::vector<std::pair<Child, RenderEnding>> m_reaped;
    std::chrono::steady_clock::time_point m_nextMeasure;
};
