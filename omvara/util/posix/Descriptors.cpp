// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/util/posix/Descriptors.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace omvara::util {

int openRetrying(const QByteArray &path, int flags, mode_t mode)
{
    int fd;
    do {
        fd = ::open(path.constData(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int writeAll(int fd, const QByteArray &bytes, qsizetype *written)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    int error = 0;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        p += n;
        left -= n;
    }
    if (written)
        *written = bytes.size() - left;
    return error;
}

} // namespace omvara::util
