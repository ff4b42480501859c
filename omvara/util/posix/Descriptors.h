// SPDX-License-Identifier: GPL-3.0-or-later
// Opening and writing file descriptors, retried where a signal interrupts.
#pragma once

#include <QByteArray>

#include <sys/types.h>

namespace omvara::util {

// open(2) with O_CLOEXEC, again after EINTR. The descriptor, or -1 with errno set.
int openRetrying(const QByteArray &path, int flags, mode_t mode = 0);

// Writes all of `bytes`, again after EINTR. 0 when all went out, otherwise
// the error (ENOSPC where the system wrote nothing without saying why);
// `written` tells how much went out in any case.
int writeAll(int fd, const QByteArray &bytes, qsizetype *written = nullptr);

} // namespace omvara::util
