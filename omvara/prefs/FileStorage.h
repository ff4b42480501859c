// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

namespace omvara::prefs {

// The file operations of the file-backed store, one implementation per
// platform (posix/ on Linux).
//
// All failures are reported as BackingStoreError with a message naming the
// file and the system's reason.
class FileStorage
{
public:
    // The whole file, or nothing when it does not exist.
    static std::optional<QByteArray> read(const QString &path);

    // Replaces the file as a whole or not at all: the bytes go to a new
    // file in the same folder, are forced to the disk, and the new file is
    // renamed over the old one. When any step fails the old file is left
    // exactly as it was and no temporary file remains. A replaced file keeps
    // its permission bits (the shared file must stay readable by all its
    // users); a new file gets the usual ones of the process.
    static void replace(const QString &path, const QByteArray &bytes);

    // Removes what a replace() cut short by the end of its process (a
    // crash, a kill) left beside `path`. Only while holding the exclusive
    // Lock: every writer replaces the file under it.
    static void removeLeftovers(const QString &path);

    // An advisory lock that other processes using the same file honour,
    // held until the object is destroyed. It lives in a file beside `path`
    // (path + ".lock", never removed, since removing it would race with
    // other processes taking it). When that file can neither be created nor
    // opened (missing or read-only folder) the lock is not taken and
    // isHeld() is false: reading then goes ahead, and writing will fail on
    // its own.
    class Lock
    {
    public:
        enum class Mode { Shared, Exclusive };
        Lock(const QString &path, Mode mode);
        ~Lock();
        Lock(const Lock &) = delete;
        Lock &operator=(const Lock &) = delete;
        bool isHeld() const { return fd >= 0; }

    private:
        int fd = -1;
    };
};

} // namespace omvara::prefs
