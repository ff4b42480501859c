// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/prefs/FileStorage.h"

#include "omvara/util/posix/Descriptors.h"

#include "omvara/prefs/PreferencesErrors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace omvara::prefs {

namespace {

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

[[noreturn]] void failWith(const QString &what, const QString &path, int error)
{
    throw BackingStoreError(QStringLiteral("%1 %2: %3").arg(what, path, reason(error)));
}

} // namespace

std::optional<QByteArray> FileStorage::read(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = util::openRetrying(native, O_RDONLY);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        failWith(QStringLiteral("Cannot open"), path, errno);
    }
    QByteArray bytes;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            failWith(QStringLiteral("Cannot read"), path, error);
        }
        if (n == 0)
            break;
        bytes.append(buffer, n);
    }
    ::close(fd);
    return bytes;
}

void FileStorage::replace(const QString &path, const QByteArray &bytes)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat old
    {
    };
    const bool hadFile = ::stat(native.constData(), &old) == 0;

    // A name no other writer can be using; O_EXCL makes sure of it.
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        temporary = native + ".tmp" + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        fd = util::openRetrying(temporary, O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd < 0 && (errno != EEXIST || attempt > 100))
            failWith(QStringLiteral("Cannot write"), path, errno);
    }

    int error = 0;
    if (hadFile) {
        // Best effort: only the owner (or root) may change these, and a
        // file the process may write at all is worth writing without them.
        (void)::fchmod(fd, old.st_mode & 07777);
        if (::geteuid() == 0)
            (void)::fchown(fd, old.st_uid, old.st_gid);
    }
    if (const int written = util::writeAll(fd, bytes))
        error = written;
    else if (::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.constData(), native.constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        failWith(QStringLiteral("Cannot write"), path, error);
    }

    // The rename itself reaches the disk with the folder's next sync; ask for it.
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int dir = util::openRetrying(folder, O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
}

void FileStorage::removeLeftovers(const QString &path)
{
    // replace() names its new file path + ".tmp" + a random suffix.
    const QFileInfo file(path);
    QDir folder = file.absoluteDir();
    const QStringList leftovers = folder.entryList(
        { file.fileName() + QStringLiteral(".tmp*") }, QDir::Files | QDir::Hidden | QDir::System);
    const qsizetype prefix = file.fileName().size() + 4;
    for (const QString &name : leftovers) {
        const QStringView suffix = QStringView(name).mid(prefix);
        const bool ours = !suffix.isEmpty() && suffix.size() <= 7
            && std::all_of(suffix.begin(), suffix.end(),
                [](QChar c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z'); });
        if (ours)
            (void)::unlink(QFile::encodeName(folder.filePath(name)).constData());
    }
}

FileStorage::Lock::Lock(const QString &path, Mode mode)
{
    const QByteArray lockPath = QFile::encodeName(path + QStringLiteral(".lock"));
    fd = util::openRetrying(lockPath, O_RDWR | O_CREAT, 0666);
    if (fd >= 0) {
        // Every user of a shared installation must be able to open it.
        struct stat st
        {
        };
        if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 0666) != 0666)
            (void)::fchmod(fd, 0666);
    } else {
        fd = util::openRetrying(lockPath, O_RDONLY);
    }
    if (fd < 0)
        return;
    const int operation = mode == Mode::Exclusive ? LOCK_EX : LOCK_SH;
    int rc;
    do {
        rc = ::flock(fd, operation);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        fd = -1;
    }
}

FileStorage::Lock::~Lock()
{
    if (fd >= 0)
        ::close(fd); // releases the lock
}

} // namespace omvara::prefs
