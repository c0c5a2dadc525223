#include "common/fd_io.h"

#include <cerrno>
#include <unistd.h>

namespace hm {

qint64 readFully(int fd, char* buffer, qint64 n, off_t offset)
{
    qint64 got = 0;
    while (got < n) {
        const ssize_t r = offset < 0 ? ::read(fd, buffer + got, size_t(n - got))
                                     : ::pread(fd, buffer + got, size_t(n - got), offset + got);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (r == 0)
            break;
        got += r;
    }
    return got;
}

bool writeFully(int fd, const char* data, qint64 n, off_t offset)
{
    while (n > 0) {
        const ssize_t w = offset < 0 ? ::write(fd, data, size_t(n)) : ::pwrite(fd, data, size_t(n), offset);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += w;
        n -= w;
        if (offset >= 0)
            offset += w;
    }
    return true;
}

} // namespace hm
