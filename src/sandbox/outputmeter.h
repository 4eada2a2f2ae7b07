#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

// What a run has written. A file counts as large as its size says, holes
// included (a sparse file is whole once it is copied), or as the blocks it
// takes, whichever is more (a file of a few bytes takes a whole block).
// Plain C++ and Linux's /proc: for the renderer and pellucor-sandbox.
namespace OutputMeter {

// The sizes of the regular files below `folders`, links not followed.
unsigned long long filesBelow(const std::vector<std::string> &folders);

// The sizes of the regular files that `processes` hold open without a name
// (removed, or made without one): they take room until they are closed,
// and no listing of a folder shows them.
unsigned long long removedButOpen(const std::vector<pid_t> &processes);

} // namespace OutputMeter
