// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace portlink::doctor {

// What the status of a file says (the target's, where the path is a link).
struct FileStatus
{
    bool exists = false;
    bool characterDevice = false;
    unsigned uid = 0;
    unsigned gid = 0;
    unsigned mode = 0; // permission bits, e.g. 0660
    unsigned major = 0; // of a device node
    unsigned minor = 0;
};

// The user the program runs as, as the system's group database sees them
// and as this login session has them.
struct Account
{
    unsigned uid = 0;
    QString name;
    std::vector<unsigned> databaseGroups; // getgrouplist: the primary group and every membership
    std::vector<unsigned> sessionGroups; // the process's groups: those of this login session
};

// The part of the system the port diagnosis reads: files under /sys, /dev,
// /etc, /proc, /run and the udev rule folders, and the user and group
// database. Reading only: nothing here opens a device or changes anything.
// Paths are absolute paths of the system.
class SystemView
{
public:
    virtual ~SystemView() = default;

    // The file's contents (at most 1 MiB), or nothing when it cannot be read.
    virtual std::optional<QByteArray> readFile(const QString &path) const = 0;
    // The names in a folder, without "." and ".."; empty when it cannot be read.
    virtual QStringList entries(const QString &folder) const = 0;
    // What a symbolic link says, or nothing when the path is no link.
    virtual std::optional<QString> linkTarget(const QString &path) const = 0;
    // The path with every link resolved; empty when it leads nowhere.
    virtual QString canonicalPath(const QString &path) const = 0;
    virtual FileStatus status(const QString &path) const = 0;
    // Whether this user may open the file for reading and writing
    // (access(2): asked, never tried).
    virtual bool mayReadAndWrite(const QString &path) const = 0;

    virtual Account account() const = 0;
    virtual QString groupName(unsigned gid) const = 0;
    virtual QString userName(unsigned uid) const = 0;
    virtual int processId() const = 0;

    // Waits (for a device that may vanish).
    virtual void wait(int milliseconds) const = 0;

    bool exists(const QString &path) const { return status(path).exists || linkTarget(path).has_value(); }
};

// This computer. With `root` the files are read below that folder instead
// of "/" (the user and group database and access(2) still are this system's).
class LocalSystemView : public SystemView
{
public:
    explicit LocalSystemView(QString root = QString());

    std::optional<QByteArray> readFile(const QString &path) const override;
    QStringList entries(const QString &folder) const override;
    std::optional<QString> linkTarget(const QString &path) const override;
    QString canonicalPath(const QString &path) const override;
    FileStatus status(const QString &path) const override;
    bool mayReadAndWrite(const QString &path) const override;
    Account account() const override;
    QString groupName(unsigned gid) const override;
    QString userName(unsigned uid) const override;
    int processId() const override;
    void wait(int milliseconds) const override;

protected:
    QString onSystem(const QString &path) const { return m_root + path; }

private:
    QString m_root;
};

} // namespace portlink::doctor
