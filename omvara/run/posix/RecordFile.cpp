// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/run/RecordFile.h"

#include "omvara/texts/WorkerTexts.h"
#include "omvara/util/posix/Descriptors.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace omvara::run {

namespace {

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Whether the link `link` (lstat of `path`) may be followed.
bool mayFollow(const QString &path, const struct stat &link)
{
    if (link.st_uid == ::geteuid() || link.st_uid == 0)
        return true;
    struct stat folder
    {
    };
    const QByteArray parent = QFile::encodeName(QFileInfo(path).absolutePath());
    if (::stat(parent.constData(), &folder) != 0)
        return false;
    return (folder.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

RecordFile::~RecordFile()
{
    close();
}

void RecordFile::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_path.clear();
    m_target.clear();
}

bool RecordFile::open(const QString &path, QString *problem)
{
    close();
    const QByteArray native = QFile::encodeName(path);
    // A link that appears between the look and the open makes the open
    // fail (O_NOFOLLOW) and is looked at again; one that is swapped for
    // another is found by comparing the link before and after.
    for (int attempt = 0; attempt < 5; ++attempt) {
        struct stat before
        {
        };
        const bool link = ::lstat(native.constData(), &before) == 0 && S_ISLNK(before.st_mode);
        if (link && !mayFollow(path, before)) {
            *problem = texts::WorkerTexts::text("record.link.refused");
            return false;
        }
        const int fd
            = util::openRetrying(native, O_WRONLY | O_APPEND | O_CREAT | (link ? 0 : O_NOFOLLOW), 0666);
        if (fd < 0) {
            if (errno == ELOOP && !link)
                continue;
            *problem = reason(errno);
            return false;
        }
        if (link) {
            struct stat after
            {
            };
            if (::lstat(native.constData(), &after) != 0 || !S_ISLNK(after.st_mode)
                || after.st_ino != before.st_ino || after.st_dev != before.st_dev) {
                ::close(fd);
                continue;
            }
        }
        m_fd = fd;
        m_path = path;
        const QString canonical = link ? QFileInfo(path).canonicalFilePath() : QString();
        m_target = canonical.isEmpty() ? path : canonical;
        return true;
    }
    *problem = texts::WorkerTexts::text("record.link.refused");
    return false;
}

qint64 RecordFile::size() const
{
    struct stat st
    {
    };
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return -1;
    return qint64(st.st_size);
}

bool RecordFile::endsWithLineEnd() const
{
    // The file is open for writing only: its last byte is read through the
    // file actually written.
    const qint64 length = size();
    if (length <= 0)
        return true;
    const int fd = util::openRetrying(QFile::encodeName(m_target), O_RDONLY);
    if (fd < 0)
        return true;
    char last = '\n';
    const ssize_t n = ::pread(fd, &last, 1, off_t(length - 1));
    ::close(fd);
    return n != 1 || last == '\n';
}

QByteArray RecordFile::firstLine(qsizetype limit) const
{
    // Read through the file actually written, as endsWithLineEnd() does.
    if (size() <= 0)
        return {};
    const int fd = util::openRetrying(QFile::encodeName(m_target), O_RDONLY);
    if (fd < 0)
        return {};
    QByteArray bytes(limit, Qt::Uninitialized);
    const ssize_t n = ::pread(fd, bytes.data(), size_t(limit), 0);
    ::close(fd);
    bytes.truncate(n > 0 ? qsizetype(n) : 0);
    const qsizetype end = bytes.indexOf('\n');
    if (end >= 0)
        bytes.truncate(end);
    if (bytes.endsWith('\r'))
        bytes.chop(1);
    return bytes;
}

bool RecordFile::stillAtPath() const
{
    if (m_fd < 0)
        return false;
    struct stat open
    {
    };
    struct stat atPath
    {
    };
    if (::fstat(m_fd, &open) != 0 || ::stat(QFile::encodeName(m_path).constData(), &atPath) != 0)
        return false;
    return open.st_dev == atPath.st_dev && open.st_ino == atPath.st_ino;
}

bool RecordFile::append(const QByteArray &bytes, QString *problem)
{
    if (m_fd < 0) {
        *problem = reason(EBADF);
        return false;
    }
    const qint64 before = size();
    qsizetype written = 0;
    if (const int error = util::writeAll(m_fd, bytes, &written)) {
        *problem = reason(error);
        // A part of a row would join the next one: it goes.
        if (written > 0 && before >= 0)
            (void)::ftruncate(m_fd, off_t(before));
        return false;
    }
    return true;
}

} // namespace omvara::run
