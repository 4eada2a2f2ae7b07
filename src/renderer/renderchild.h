#pragma once

#include "sandbox/ghostscriptpolicy.h"

#include <string>

class WarmInterpreter;

// How a child ended: one of the endings of RenderProtocol and its number.
struct RenderEnding
{
    const char *ending;
    int number;
};

// Renders `input` in a child forked from `interpreter`, in `folder` (made
// for this child alone, where its pages, messages and temporary files go),
// and waits for it within `limits` (its wall clock runs from before the
// input is opened). The child reads nothing but /dev/null,
// dies with this process, and keeps no descriptor but the standard ones, so
// that nothing it does reaches the channel to pellucor-batch. With
// `ownNamespaces` (this process is in namespaces of its own) the child gets
// PID, mount and IPC namespaces of its own and writes to a file system of
// its own, as large as its output may be, whose pages and messages are then
// kept in `folder`; nothing else of it outlives it.
RenderEnding renderInChild(WarmInterpreter &interpreter, const std::string &input, const std::string &folder,
                           const GhostscriptPolicy::Limits &limits, bool ownNamespaces, int protocolIn, int protocolOut);
