// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/doctor/SystemView.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace portlink::doctor {

LocalSystemView::LocalSystemView(QString root)
    : m_root(std::move(root))
{
    while (m_root.endsWith(QLatin1Char('/')))
        m_root.chop(1);
}

std::optional<QByteArray> LocalSystemView::readFile(const QString &path) const
{
    QFile file(onSystem(path));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Files under /proc and /sys report no size: read until the end.
    return file.read(1 << 20);
}

QStringList LocalSystemView::entries(const QString &folder) const
{
    return QDir(onSystem(folder))
        .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

std::optional<QString> LocalSystemView::linkTarget(const QString &path) const
{
    const QByteArray name = QFile::encodeName(onSystem(path));
    char buffer[4096];
    const ssize_t n = ::readlink(name.constData(), buffer, sizeof buffer - 1);
    if (n < 0)
        return std::nullopt;
    return QFile::decodeName(QByteArray(buffer, int(n)));
}

QString LocalSystemView::canonicalPath(const QString &path) const
{
    const QString resolved = QFileInfo(onSystem(path)).canonicalFilePath();
    if (resolved.isEmpty() || m_root.isEmpty())
        return resolved;
    if (!resolved.startsWith(m_root + QLatin1Char('/')))
        return QString();
    return resolved.mid(m_root.size());
}

FileStatus LocalSystemView::status(const QString &path) const
{
    FileStatus s;
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(onSystem(path)).constData(), &st) != 0)
        return s;
    s.exists = true;
    s.characterDevice = S_ISCHR(st.st_mode);
    s.uid = st.st_uid;
    s.gid = st.st_gid;
    s.mode = st.st_mode & 07777;
    s.major = s.characterDevice ? major(st.st_rdev) : 0;
    s.minor = s.characterDevice ? minor(st.st_rdev) : 0;
    return s;
}

bool LocalSystemView::mayReadAndWrite(const QString &path) const
{
    return ::access(QFile::encodeName(onSystem(path)).constData(), R_OK | W_OK) == 0;
}

Account LocalSystemView::account() const
{
    Account a;
    a.uid = ::getuid();
    gid_t primary = ::getgid();
    if (const passwd *pw = ::getpwuid(a.uid)) {
        a.name = QString::fromLocal8Bit(pw->pw_name);
        primary = pw->pw_gid;
        // The group database, LDAP and SSSD included, not only /etc/group.
        int count = 64;
        std::vector<gid_t> groups(static_cast<std::size_t>(count));
        if (::getgrouplist(pw->pw_name, primary, groups.data(), &count) < 0) {
            groups.resize(std::size_t(count));
            ::getgrouplist(pw->pw_name, primary, groups.data(), &count);
        }
        groups.resize(std::size_t(std::max(count, 0)));
        a.databaseGroups.assign(groups.begin(), groups.end());
    } else {
        a.name = QString::number(a.uid);
        a.databaseGroups.push_back(primary);
    }
    const int n = ::getgroups(0, nullptr);
    std::vector<gid_t> session(static_cast<std::size_t>(std::max(n, 0)));
    if (n > 0)
        session.resize(std::size_t(std::max(::getgroups(n, session.data()), 0)));
    a.sessionGroups.assign(session.begin(), session.end());
    a.sessionGroups.push_back(::getegid());
    a.sessionGroups.push_back(::getgid());
    return a;
}

QString LocalSystemView::groupName(unsigned gid) const
{
    if (const group *g = ::getgrgid(gid))
        return QString::fromLocal8Bit(g->gr_name);
    return QString::number(gid);
}

QString LocalSystemView::userName(unsigned uid) const
{
    if (const passwd *pw = ::getpwuid(uid))
        return QString::fromLocal8Bit(pw->pw_name);
    return QString::number(uid);
}

int LocalSystemView::processId() const
{
    return int(::getpid());
}

void LocalSystemView::wait(int milliseconds) const
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace portlink::doctor
