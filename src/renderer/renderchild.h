#pragma once

#include "sandbox/ghostscriptpolicy.h"

#include <string>

class WarmInterpreter;

// One file to render: the child's own folder, the input, and PostScript run
// just before it.
struct RenderRequest
{
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

// Renders the request's input in a child forked from `interpreter`, in its
// folder (made for this child alone, where its pages, messages and temporary
// files go), and waits for it within the limits (its wall clock runs from
// before the input is opened). The child reads nothing but /dev/null,
// dies with this process, and keeps no descriptor but the standard ones, so
// that nothing it does reaches the channel to pellucor-batch. With
// `ownNamespaces` (this process is in namespaces of its own) the child gets
// PID, mount and IPC namespaces of its own and writes to a file system of
// its own, as large as its output may be, whose pages and messages are then
// kept in `folder`; nothing else of it outlives it.
RenderEnding renderInChild(WarmInterpreter &interpreter, const RenderRequest &request, const ChildSettings &settings,
                           bool ownNamespaces, int protocolIn, int protocolOut);
