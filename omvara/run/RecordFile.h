// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

namespace omvara::run {

// One open record file, appended to; one implementation per platform
// (posix/ on Linux).
//
// Shared folders: in a folder that others than its owner may write (group or
// world), a symbolic link at the last component of the path is followed only
// when it belongs to this user or to root; anyone else's link could point the
// rows into a file of the user's that the link's owner could not write.
//
// Not thread-safe: one thread at a time.
class RecordFile
{
public:
    RecordFile() = default;
    ~RecordFile();
    RecordFile(const RecordFile &) = delete;
    RecordFile &operator=(const RecordFile &) = delete;

    // Opens `path` for appending, creating it when missing. False, with
    // `problem` set (the system's reason, or why a link is not followed),
    // when it cannot be opened.
    bool open(const QString &path, QString *problem);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    // The path as opened, and the file actually written (a link resolved).
    const QString &path() const { return m_path; }
    const QString &target() const { return m_target; }
    // The size of the open file; -1 when unknown.
    qint64 size() const;
    // Whether the last byte of the file ends a line (true when empty or unreadable).
    bool endsWithLineEnd() const;
    // The file's first line without its line end (at most `limit` bytes of
    // it); empty when the file is empty or unreadable.
    QByteArray firstLine(qsizetype limit = 4096) const;
    // False when the file at the path is no longer the open one: removed,
    // moved away or replaced (its folder too). Rows written to the open file
    // then would be lost.
    bool stillAtPath() const;
    // Appends `bytes` in one write, whole or not at all: a part of it that
    // went out is cut off again. False with `problem` set.
    bool append(const QByteArray &bytes, QString *problem);

private:
    int m_fd = -1;
    QString m_path;
    QString m_target;
};

} // namespace omvara::run
