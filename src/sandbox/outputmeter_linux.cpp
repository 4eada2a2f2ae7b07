#include "outputmeter.h"

#include <algorithm>

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace OutputMeter {

namespace {

// nftw's callback takes no context.
thread_local unsigned long long counted = 0;
thread_local unsigned visited = 0;

// As large as it claims to be or as the room it takes, whichever is more:
// a sparse file claims more, a small one takes a whole block.
unsigned long long sizeOf(const struct stat &st)
{
    return std::max((unsigned long long)st.st_size, (unsigned long long)st.st_blocks * 512);
}

} // namespace

unsigned long long filesBelow(const std::vector<std::string> &folders)
{
    counted = 0;
    visited = 0;
    for (const std::string &folder : folders) {
        const int stopped = ::nftw(
            folder.c_str(),
            [](const char *, const struct stat *st, int kind, FTW *) {
                if (++visited > MaxEntries)
                    return 1;
                if (kind == FTW_F && S_ISREG(st->st_mode))
                    counted = sum(counted, sizeOf(*st));
                return 0;
            },
            16, FTW_PHYS);
        if (stopped == 1)
            return TooMuch;
    }
    return counted;
}

unsigned long long removedButOpen(const std::vector<pid_t> &processes)
{
    unsigned long long total = 0;
    unsigned seen = 0;
    for (const pid_t process : processes) {
        DIR *descriptors = ::opendir(("/proc/" + std::to_string(process) + "/fd").c_str());
        if (!descriptors)
            continue; // gone meanwhile
        while (const dirent *entry = ::readdir(descriptors)) {
            struct stat st;
            if (++seen > MaxEntries)
                total = TooMuch;
            else if (entry->d_name[0] != '.' && ::fstatat(::dirfd(descriptors), entry->d_name, &st, 0) == 0
                     && S_ISREG(st.st_mode) && st.st_nlink == 0)
                total = sum(total, sizeOf(st));
            if (total == TooMuch)
                break;
        }
        ::closedir(descriptors);
        if (total == TooMuch)
            break;
    }
    return total;
}

} // namespace OutputMeter
