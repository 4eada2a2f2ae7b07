#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

// Where each file's time goes, for whoever measures: with PELLUCOR_TRACE=FILE
// pellucor-batch, its renderer and its writer append a line per phase of
// each file, "<seconds> <who> <key> <phase> [<detail>]", the seconds on the
// monotonic clock that every process of the machine shares. A line is one
// write to a file opened for appending, so the processes' lines never mix.
// Nothing is written without the variable.
namespace Trace {

inline std::FILE *file()
{
    static std::FILE *const opened = [] {
        const char *path = std::getenv("PELLUCOR_TRACE");
        std::FILE *file = path && *path ? std::fopen(path, "a") : nullptr;
        if (file)
            std::setvbuf(file, nullptr, _IOLBF, 4096);
        return file;
    }();
    return opened;
}

inline bool on()
{
    return file() != nullptr;
}

inline void stamp(const char *who, const std::string &key, const char *phase, const std::string &detail = {})
{
    if (!on())
        return;
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const double seconds = std::chrono::duration<double>(now).count();
    std::fprintf(file(), "%.6f %s %s %s%s%s\n", seconds, who, key.c_str(), phase, detail.empty() ? "" : " ",
                 detail.c_str());
}

} // namespace Trace
