#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

// What a run has written. A file counts as large as its size says, holes
// included (a sparse file is whole once it is copied), or as the blocks it
// takes, whichever is more (a file of a few bytes takes a whole block).
// Plain C++ and Linux's /proc: for the renderer and pellucor-sandbox.
namespace OutputMeter {

// What a run has written when it made more files or holds more descriptors
// than any document needs (MaxEntries): more than any bound, and not worth
// the time to count, which a run could otherwise stretch without end.
inline constexpr unsigned long long TooMuch = ~0ull;
inline constexpr unsigned MaxEntries = 65536;

// The sizes of the regular files below `folders`, links not followed.
unsigned long long filesBelow(const std::vector<std::string> &folders);

// The sizes of the regular files that `processes` hold open without a name
// (removed, or made without one): they take room until they are closed,
// and no listing of a folder shows them.
unsigned long long removedButOpen(const std::vector<pid_t> &processes);

// a + b, and TooMuch where that would not fit.
inline unsigned long long sum(unsigned long long a, unsigned long long b)
{
    return a > TooMuch - b ? TooMuch : a + b;
}

} // namespace OutputMeter
