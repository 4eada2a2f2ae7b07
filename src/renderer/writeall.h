#pragma once

#include <cerrno>
#include <cstddef>

#include <unistd.h>

// Writes all `size` bytes to `fd`, on through interruptions; the number
// written, which is less than `size` only when the descriptor failed.
inline std::size_t writeAll(int fd, const char *data, std::size_t size)
{
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, size - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += std::size_t(n);
    }
    return written;
}
