// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A system for the port diagnosis made of files below a folder, with the
// device nodes, the user and the groups a test gives.

#include "portlink/doctor/SystemView.h"

#include <QDir>
#include <QFile>

#include <functional>
#include <map>

namespace doctor_test {

using namespace portlink::doctor;

constexpr unsigned dialout = 20;

// A system made of files below a temporary folder, with the device nodes,
// the user and the groups given by the test.
class FixtureSystem : public LocalSystemView
{
public:
    explicit FixtureSystem(const QString &root)
        : LocalSystemView(root)
        , m_root(root)
    {
    }

    void file(const QString &path, const QByteArray &contents = {})
    {
        QDir().mkpath(m_root + path.left(path.lastIndexOf('/')));
        QFile f(m_root + path);
        if (f.open(QIODevice::WriteOnly))
            f.write(contents);
    }
    void link(const QString &path, const QString &target)
    {
        QDir().mkpath(m_root + path.left(path.lastIndexOf('/')));
        QFile::link(target, m_root + path);
    }
    void folder(const QString &path) { QDir().mkpath(m_root + path); }
    void process(int pid, const QString &name)
    {
        file(QStringLiteral("/proc/%1/comm").arg(pid), name.toUtf8() + '\n');
    }
    void remove(const QString &path) { QFile::remove(m_root + path); }

    // A USB serial adapter as the kernel shows it in /sys, with its node.
    void adapter(const QString &name, const QString &vendor, const QString &product, const QString &driver)
    {
        const QString usb = QStringLiteral("/sys/devices/pci0000:00/usb1/1-1");
        const QString port = usb + QStringLiteral("/1-1:1.0/") + name;
        file(usb + QStringLiteral("/idVendor"), vendor.toLatin1() + '\n');
        file(usb + QStringLiteral("/idProduct"), product.toLatin1() + '\n');
        file(usb + QStringLiteral("/product"), "USB Serial\n");
        folder(port + QStringLiteral("/tty/") + name);
        link(port + QStringLiteral("/driver"),
            QStringLiteral("../../../../../../bus/usb-serial/drivers/") + driver);
        link(port + QStringLiteral("/tty/") + name + QStringLiteral("/device"),
            QStringLiteral("../../../") + name);
        link(QStringLiteral("/sys/class/tty/") + name,
            QStringLiteral("../../devices/pci0000:00/usb1/1-1/1-1:1.0/") + name + QStringLiteral("/tty/")
                + name);
        file(QStringLiteral("/dev/") + name);
        link(QStringLiteral("/dev/serial/by-id/usb-Maker_USB_Serial-if00-port0"),
            QStringLiteral("../../") + name);
        nodes[QStringLiteral("/dev/") + name] = FileStatus { true, true, 0, dialout, 0660, 188, 0 };
    }

    FileStatus status(const QString &path) const override
    {
        const QString resolved = canonicalPath(path);
        const auto it = nodes.find(resolved.isEmpty() ? path : resolved);
        return it != nodes.end() && nodeExists(it->first) ? it->second : LocalSystemView::status(path);
    }
    bool mayReadAndWrite(const QString &path) const override { return allowed; }
    Account account() const override { return me; }
    QString groupName(unsigned gid) const override
    {
        return gid == dialout ? QStringLiteral("dialout") : QStringLiteral("g%1").arg(gid);
    }
    QString userName(unsigned uid) const override
    {
        return uid == 0 ? QStringLiteral("root") : QStringLiteral("alice");
    }
    int processId() const override { return 1; }
    void wait(int) const override
    {
        if (onWait)
            onWait();
    }

    std::map<QString, FileStatus> nodes;
    bool allowed = true;
    Account me { 1000, QStringLiteral("alice"), { 1000, dialout }, { 1000, dialout } };
    std::function<void()> onWait;

private:
    bool nodeExists(const QString &path) const { return QFile::exists(m_root + path); }
    QString m_root;
};

} // namespace doctor_test
