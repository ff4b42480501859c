// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/doctor/PortDoctor.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>

namespace portlink::doctor {

namespace {

// Where udev reads rule files; for one file name the first folder wins.
const char *const ruleFolders[] = { "/etc/udev/rules.d", "/run/udev/rules.d", "/usr/local/lib/udev/rules.d",
    "/usr/lib/udev/rules.d", "/lib/udev/rules.d" };
const QString overrideFolder = QStringLiteral("/etc/udev/rules.d");

struct Process
{
    int pid = 0;
    QString name;
    QStringList openFiles; // what its descriptors lead to
};

// The processes of the system with what they hold open, read once per diagnosis.
std::vector<Process> processes(const SystemView &system, bool withOpenFiles)
{
    std::vector<Process> found;
    for (const QString &entry : system.entries(QStringLiteral("/proc"))) {
        bool number = false;
        const int pid = entry.toInt(&number);
        if (!number || pid <= 0 || pid == system.processId())
            continue;
        Process p;
        p.pid = pid;
        if (const auto comm = system.readFile(QStringLiteral("/proc/%1/comm").arg(pid)))
            p.name = QString::fromLocal8Bit(comm->trimmed());
        if (withOpenFiles) {
            const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
            for (const QString &fd : system.entries(fds))
                if (const auto target = system.linkTarget(fds + QLatin1Char('/') + fd))
                    if (target->startsWith(QLatin1String("/dev/")))
                        p.openFiles.append(*target);
        }
        found.push_back(std::move(p));
    }
    return found;
}

bool isRunning(const std::vector<Process> &all, const QString &name)
{
    return std::any_of(all.begin(), all.end(), [&](const Process &p) { return p.name == name; });
}

QString baseName(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString folderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

// A shell word for a command the user copies.
QString quoted(const QString &word)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:=@%+-]+$"));
    if (plain.match(word).hasMatch())
        return word;
    QString q = word;
    q.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + q + QLatin1Char('\'');
}

QString idsText(const UsbIds &ids)
{
    return ids.vendor + QLatin1Char(':') + ids.product;
}

// The command that removes a package with this system's package tool.
QString removePackageCommand(const SystemView &system, const QString &package)
{
    struct Tool
    {
        const char *path;
        const char *command;
    };
    static const Tool tools[]
        = { { "/usr/bin/apt-get", "sudo apt-get remove %1" }, { "/usr/bin/dnf", "sudo dnf remove %1" },
              { "/usr/bin/zypper", "sudo zypper remove %1" }, { "/usr/bin/pacman", "sudo pacman -R %1" } };
    for (const Tool &tool : tools)
        if (system.exists(QString::fromLatin1(tool.path)))
            return QString::fromLatin1(tool.command).arg(package);
    return QStringLiteral("remove the package %1 with the system's package tool").arg(package);
}

// --- udev rules -------------------------------------------------------------

struct RuleSource
{
    QString path; // the file in effect
    QByteArray contents;
};

// The rule files in effect whose names contain `word`, one per file name.
std::vector<RuleSource> ruleFilesNamed(const SystemView &system, const QString &word)
{
    std::vector<RuleSource> found;
    QStringList seen;
    for (const char *folder : ruleFolders) {
        const QString dir = QString::fromLatin1(folder);
        for (const QString &name : system.entries(dir)) {
            if (!name.endsWith(QLatin1String(".rules")) || !name.contains(word) || seen.contains(name))
                continue;
            seen.append(name);
            if (const auto contents = system.readFile(dir + QLatin1Char('/') + name))
                found.push_back({ dir + QLatin1Char('/') + name, *contents });
        }
    }
    return found;
}

// Whether a rule line names the adapter, either by its attributes
// (ATTRS{idVendor}=="1a86", ATTRS{idProduct}=="7523") or by the PRODUCT
// variable ("1a86/7523/*", hex without leading zeros).
bool ruleLineNames(const QString &line, const UsbIds &ids)
{
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')))
        return false;
    static const QRegularExpression vendorAttr(QStringLiteral("ATTRS?\\{idVendor\\}==\"([0-9a-fA-F]{4})\""));
    static const QRegularExpression productAttr(
        QStringLiteral("ATTRS?\\{idProduct\\}==\"([0-9a-fA-F]{4})\""));
    const auto v = vendorAttr.match(trimmed);
    const auto p = productAttr.match(trimmed);
    if (v.hasMatch() && p.hasMatch())
        return v.captured(1).toLower() == ids.vendor && p.captured(1).toLower() == ids.product;
    static const QRegularExpression productEnv(
        QStringLiteral("ENV\\{PRODUCT\\}==\"([0-9a-fA-F]{1,4})/([0-9a-fA-F]{1,4})/"));
    const auto e = productEnv.match(trimmed);
    if (e.hasMatch())
        return e.captured(1).toUInt(nullptr, 16) == ids.vendor.toUInt(nullptr, 16)
            && e.captured(2).toUInt(nullptr, 16) == ids.product.toUInt(nullptr, 16);
    return false;
}

bool brlttyInstalled(const SystemView &system)
{
    for (const char *path : { "/usr/bin/brltty", "/bin/brltty", "/usr/sbin/brltty", "/sbin/brltty" })
        if (system.exists(QString::fromLatin1(path)))
            return true;
    return false;
}

Finding brlttyRunningWithoutIds(const SystemView &system)
{
    Finding f;
    f.severity = Severity::Warning;
    f.kind = QStringLiteral("brltty");
    f.text = QStringLiteral(
        "brltty, the braille display service, is running: it takes many USB serial adapters (CH340, CP210x, "
        "FT232) away seconds after they appear.");
    f.fix = { QStringLiteral(
                  "Plug the adapter in and run omvara --doctor at once to see whether brltty claims it."),
        QStringLiteral("If no braille display is used on this computer:"),
        removePackageCommand(system, QStringLiteral("brltty")) };
    return f;
}

Finding modemManagerFinding(const UsbIds &ids)
{
    Finding f;
    f.severity = Severity::Warning;
    f.kind = QStringLiteral("modemmanager");
    f.text = QStringLiteral("ModemManager is running and may send AT commands to this port for about ten "
                            "seconds after it appears: "
                            "that disturbs the instrument and holds the port.");
    const QString rule
        = QStringLiteral("ACTION==\"add|change\", SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"%1\", "
                         "ATTRS{idProduct}==\"%2\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"")
              .arg(ids.vendor, ids.product);
    const QString path
        = QStringLiteral("%1/70-omvara-%2-%3.rules").arg(overrideFolder, ids.vendor, ids.product);
    f.fix = { QStringLiteral("Tell ModemManager to leave adapters with the ids %1 alone:").arg(idsText(ids)),
        QStringLiteral("echo %1 | sudo tee %2").arg(quoted(rule), path),
        QStringLiteral("sudo udevadm control --reload-rules"),
        QStringLiteral("sudo udevadm trigger --subsystem-match=tty") };
    f.mark = QStringLiteral("probed by ModemManager");
    f.rule = RuleFile { path, rule.toUtf8() + '\n' };
    return f;
}

// --- the device -------------------------------------------------------------

// The device node a port name stands for: "ttyUSB0" is /dev/ttyUSB0.
QString nodePath(const QString &port)
{
    return port.startsWith(QLatin1Char('/')) ? port : QStringLiteral("/dev/") + port;
}

bool isNetworkPort(const QString &port)
{
    return port.contains(QLatin1String("://"));
}

bool isOnBoardUart(const QString &name)
{
    static const QRegularExpression uart(QStringLiteral("^tty(S|AMA|O|mxc|PS|SAC|MFD|HS|SC)[0-9]+$"));
    return uart.match(name).hasMatch();
}

QStringList linksTo(const QString &device, const SystemView &system)
{
    QStringList links;
    for (const QString &folder :
        { QStringLiteral("/dev/serial/by-id"), QStringLiteral("/dev/serial/by-path") })
        for (const QString &name : system.entries(folder)) {
            const QString link = folder + QLatin1Char('/') + name;
            if (system.canonicalPath(link) == device)
                links.append(link);
        }
    return links;
}

// The sysfs folder of the device (the USB interface, the platform UART...).
QString sysfsDevice(const QString &device, const SystemView &system)
{
    return system.canonicalPath(QStringLiteral("/sys/class/tty/%1/device").arg(baseName(device)));
}

void readDriverData(Diagnosis &d, const SystemView &system)
{
    const QString dev = sysfsDevice(d.device, system);
    if (dev.isEmpty())
        return;
    if (const auto driver = system.linkTarget(dev + QStringLiteral("/driver")))
        d.driver = baseName(*driver);
    d.usb = usbIdsOf(d.device, system);
    for (QString dir = dev; dir.size() > 5 && dir.startsWith(QLatin1String("/sys/")); dir = folderOf(dir)) {
        if (!system.exists(dir + QStringLiteral("/idVendor")))
            continue;
        const auto product = system.readFile(dir + QStringLiteral("/product"));
        const auto maker = system.readFile(dir + QStringLiteral("/manufacturer"));
        QStringList parts;
        if (maker && !maker->trimmed().isEmpty())
            parts.append(QString::fromUtf8(maker->trimmed()));
        if (product && !product->trimmed().isEmpty())
            parts.append(QString::fromUtf8(product->trimmed()));
        d.product = parts.join(QLatin1Char(' '));
        break;
    }
}

void checkPermissions(Diagnosis &d, const SystemView &system)
{
    const FileStatus st = system.status(d.device);
    d.owner = system.userName(st.uid);
    d.group = system.groupName(st.gid);
    d.mode = st.mode;
    if (system.mayReadAndWrite(d.device))
        return;
    const Account me = system.account();
    const auto has = [](const std::vector<unsigned> &groups, unsigned gid) {
        return std::find(groups.begin(), groups.end(), gid) != groups.end();
    };
    Finding f;
    f.severity = Severity::Problem;
    f.kind = QStringLiteral("permission");
    f.mark = QStringLiteral("no permission");
    const bool groupMayUse = (st.mode & 060) == 060;
    if (st.uid == me.uid || !groupMayUse) {
        f.text = QStringLiteral("%1 may not be read and written by you (%2): owner %3, group %4, mode %5.")
                     .arg(d.device, me.name, d.owner, d.group,
                         QString::number(st.mode, 8).rightJustified(4, '0'));
        f.fix = { QStringLiteral("The device's rules give it these rights; for this session only:"),
            QStringLiteral("sudo chmod 0660 %1").arg(d.device) };
    } else if (!has(me.databaseGroups, st.gid)) {
        f.text = QStringLiteral("You (%1) are not a member of the group %2, which owns %3.")
                     .arg(me.name, d.group, d.device);
        f.fix = { QStringLiteral("sudo usermod -aG %1 %2").arg(quoted(d.group), quoted(me.name)),
            QStringLiteral("Then log out and in again (or restart the computer).") };
    } else if (!has(me.sessionGroups, st.gid)) {
        f.kind = QStringLiteral("relogin");
        f.mark = QStringLiteral("log out and in again");
        f.text = QStringLiteral(
            "You (%1) were added to the group %2, which owns %3, but this login session began before "
            "that: log out and in again.")
                     .arg(me.name, d.group, d.device);
        f.fix = { QStringLiteral("Log out and in again (or restart the computer)."),
            QStringLiteral("For one terminal only: newgrp %1").arg(quoted(d.group)) };
    } else {
        f.text = QStringLiteral("The system refuses you (%1) access to %2 (owner %3, group %4, mode %5).")
                     .arg(me.name, d.device, d.owner, d.group,
                         QString::number(st.mode, 8).rightJustified(4, '0'));
        f.fix = { QStringLiteral("getfacl %1").arg(d.device) };
    }
    d.findings.push_back(f);
}

void checkHolders(Diagnosis &d, const SystemView &system, const std::vector<Process> &all)
{
    QStringList holders;
    QList<int> pids;
    for (const Process &p : all) {
        if (p.openFiles.contains(d.device) || p.openFiles.contains(d.port)) {
            holders.append(QStringLiteral("%1 (pid %2)")
                               .arg(p.name.isEmpty() ? QStringLiteral("?") : p.name)
                               .arg(p.pid));
            pids.append(p.pid);
        }
    }
    // A program of another user, whose descriptors cannot be read, may have
    // left a lock file naming itself.
    if (holders.isEmpty()) {
        for (const QString &folder : { QStringLiteral("/run/lock"), QStringLiteral("/var/lock") }) {
            const auto lock = system.readFile(folder + QStringLiteral("/LCK..") + baseName(d.device));
            bool number = false;
            const int pid = lock ? lock->trimmed().toInt(&number) : 0;
            if (number && pid > 0 && system.exists(QStringLiteral("/proc/%1").arg(pid))) {
                Finding f;
                f.severity = Severity::Problem;
                f.kind = QStringLiteral("holder");
                f.text = QStringLiteral("%1 is held by another user's program (pid %2, named in %3).")
                             .arg(d.device)
                             .arg(pid)
                             .arg(folder + QStringLiteral("/LCK..") + baseName(d.device));
                f.fix = { QStringLiteral("Ask its user to close it, or end it: sudo kill %1").arg(pid) };
                f.mark = QStringLiteral("held by another user's program");
                d.findings.push_back(f);
                return;
            }
        }
        return;
    }
    Finding f;
    f.severity = Severity::Problem;
    f.kind = QStringLiteral("holder");
    f.text = QStringLiteral("Another program holds %1 open: %2.")
                 .arg(d.device, holders.join(QStringLiteral(", ")));
    QStringList killList;
    for (int pid : pids)
        killList.append(QString::number(pid));
    f.fix = { QStringLiteral("Close that program, or end it:"),
        QStringLiteral("kill %1").arg(killList.join(' ')) };
    f.mark = QStringLiteral("held by ") + holders.join(QStringLiteral(", "));
    d.findings.push_back(f);
}

void checkConsole(Diagnosis &d, const SystemView &system, const std::vector<Process> &all)
{
    const QString name = baseName(d.device);
    if (!isOnBoardUart(name))
        return;
    QString what;
    const auto active = system.readFile(QStringLiteral("/sys/class/tty/console/active"));
    if (active
        && QString::fromLatin1(*active).split(QRegularExpression(QStringLiteral("\\s+"))).contains(name))
        what = QStringLiteral("the kernel writes its console to it");
    for (const Process &p : all) {
        if (!p.name.contains(QLatin1String("getty")))
            continue;
        const auto cmdline = system.readFile(QStringLiteral("/proc/%1/cmdline").arg(p.pid));
        if (cmdline && QString::fromLocal8Bit(*cmdline).split(QChar(0)).contains(name)) {
            what = QStringLiteral("a login prompt (%1, pid %2) runs on it").arg(p.name).arg(p.pid);
            break;
        }
    }
    if (what.isEmpty())
        return;
    Finding f;
    f.severity = Severity::Problem;
    f.kind = QStringLiteral("console");
    f.text = QStringLiteral("%1 is the computer's serial console (%2): it is no instrument's port, and the "
                            "doctor does not open it.")
                 .arg(d.device, what);
    f.fix = { QStringLiteral(
                  "Connect the instrument to another port, or, if this port is meant for it, stop the "
                  "login prompt:"),
        QStringLiteral("sudo systemctl disable --now serial-getty@%1.service").arg(name) };
    f.mark = QStringLiteral("serial console");
    d.findings.push_back(f);
}

void checkServices(
    Diagnosis &d, const SystemView &system, const std::vector<Process> &all, const DiagnosisOptions &options)
{
    if (!d.usb)
        return;
    if (auto claim = brlttyClaim(*d.usb, system)) {
        if (options.watchForVanishing) {
            system.wait(options.vanishingWaitMs);
            if (!system.exists(d.device))
                claim->text += QStringLiteral(" It did: %1 disappeared during a wait of %2 s.")
                                   .arg(d.device)
                                   .arg(options.vanishingWaitMs / 1000.0, 0, 'g', 2);
        }
        d.findings.push_back(*claim);
    }
    if (isRunning(all, QStringLiteral("ModemManager"))) {
        const FileStatus st = system.status(d.device);
        const auto data
            = system.readFile(QStringLiteral("/run/udev/data/c%1:%2").arg(st.major).arg(st.minor));
        if (data && data->contains("\nE:ID_MM_DEVICE_IGNORE=1"))
            d.findings.push_back({ Severity::Note, QStringLiteral("modemmanager"),
                QStringLiteral("ModemManager is running and leaves this adapter alone."), {}, QString(),
                std::nullopt });
        else
            d.findings.push_back(modemManagerFinding(*d.usb));
    }
}

void checkMissing(Diagnosis &d, const SystemView &system, const std::vector<Process> &all)
{
    const QString node = nodePath(d.port);
    Finding f;
    f.severity = Severity::Problem;
    f.mark = QStringLiteral("not connected");
    if (const auto target = system.linkTarget(node)) {
        f.kind = QStringLiteral("dangling");
        f.text
            = QStringLiteral("%1 points at %2, which does not exist: the adapter is unplugged, or the system "
                             "gave it another name.")
                  .arg(node, *target);
        f.fix = { QStringLiteral("Plug the adapter in; these are the adapters present:"),
            QStringLiteral("ls -l /dev/serial/by-id/") };
    } else {
        f.kind = QStringLiteral("missing");
        f.text = QStringLiteral("There is no device %1.").arg(node);
        f.fix = { QStringLiteral("Plug the adapter in; the kernel's messages tell whether it was seen:"),
            QStringLiteral("sudo dmesg | tail -n 20"), QStringLiteral("ls -l /dev/serial/by-id/") };
    }
    d.findings.push_back(f);
    if (isRunning(all, QStringLiteral("brltty")))
        d.findings.push_back(brlttyRunningWithoutIds(system));
}

} // namespace

bool Diagnosis::standsInTheWay() const
{
    return std::any_of(
        findings.begin(), findings.end(), [](const Finding &f) { return f.severity != Severity::Note; });
}

QString Diagnosis::mark() const
{
    const Finding *worst = nullptr;
    for (const Finding &f : findings)
        if (!f.mark.isEmpty() && (!worst || f.severity > worst->severity))
            worst = &f;
    return worst ? worst->mark : QString();
}

std::optional<UsbIds> usbIdsOf(const QString &device, const SystemView &system)
{
    const QString dev = sysfsDevice(device, system);
    for (QString dir = dev; dir.size() > 5 && dir.startsWith(QLatin1String("/sys/")); dir = folderOf(dir)) {
        const auto vendor = system.readFile(dir + QStringLiteral("/idVendor"));
        const auto product = system.readFile(dir + QStringLiteral("/idProduct"));
        if (vendor && product)
            return UsbIds { QString::fromLatin1(vendor->trimmed()).toLower(),
                QString::fromLatin1(product->trimmed()).toLower() };
    }
    return std::nullopt;
}

std::optional<Finding> brlttyClaim(const UsbIds &ids, const SystemView &system)
{
    if (!brlttyInstalled(system))
        return std::nullopt;
    for (const RuleSource &source : ruleFilesNamed(system, QStringLiteral("brltty"))) {
        const QList<QByteArray> lines = source.contents.split('\n');
        QList<int> claiming; // line numbers, from 1
        QByteArray without;
        for (int i = 0; i < lines.size(); ++i) {
            if (ruleLineNames(QString::fromUtf8(lines[i]), ids)) {
                claiming.append(i + 1);
                continue;
            }
            without += lines[i];
            if (i + 1 < lines.size())
                without += '\n';
        }
        if (claiming.isEmpty())
            continue;
        const QString target = overrideFolder + QLatin1Char('/') + baseName(source.path);
        Finding f;
        f.severity = Severity::Problem;
        f.kind = QStringLiteral("brltty");
        f.text = QStringLiteral(
            "brltty, the braille display service, claims USB adapters with the ids %1 (%2), and this "
            "adapter has them: it takes the port away seconds after it appears.")
                     .arg(idsText(ids), source.path);
        QStringList deletions;
        for (int line : claiming)
            deletions.append(QStringLiteral("%1d").arg(line));
        f.fix = { QStringLiteral("If no braille display is used on this computer, remove brltty:"),
            removePackageCommand(system, QStringLiteral("brltty")),
            QStringLiteral("Otherwise keep brltty away from this adapter with a copy of its rule file "
                           "without the adapter's line:") };
        if (source.path != target)
            f.fix.append(QStringLiteral("sudo cp %1 %2").arg(source.path, target));
        f.fix.append(
            QStringLiteral("sudo sed -i %1 %2").arg(quoted(deletions.join(QLatin1Char(';'))), target));
        f.fix.append(QStringLiteral("sudo udevadm control --reload-rules"));
        f.fix.append(QStringLiteral("Then unplug the adapter and plug it in again."));
        f.mark = QStringLiteral("taken by brltty");
        f.rule = RuleFile { target, without };
        return f;
    }
    return std::nullopt;
}

namespace {

Diagnosis diagnose(const QString &port, const SystemView &system, const DiagnosisOptions &options,
    const std::vector<Process> &all)
{
    Diagnosis d;
    d.port = port;
    if (isNetworkPort(port)) {
        d.findings.push_back({ Severity::Note, QStringLiteral("network"),
            QStringLiteral("%1 is a network port; the doctor looks at serial devices of this "
                           "computer.")
                .arg(port),
            {}, QString(), std::nullopt });
        return d;
    }
    d.device = system.canonicalPath(nodePath(port));
    if (d.device.isEmpty()) {
        checkMissing(d, system, all);
        return d;
    }
    d.links = linksTo(d.device, system);
    readDriverData(d, system);
    checkConsole(d, system, all);
    checkPermissions(d, system);
    if (options.findHolders)
        checkHolders(d, system, all);
    checkServices(d, system, all, options);
    return d;
}

} // namespace

Diagnosis diagnosePort(const QString &port, const SystemView &system, const DiagnosisOptions &options)
{
    return diagnose(port, system, options, processes(system, options.findHolders));
}

std::vector<Diagnosis> diagnosePorts(
    const QStringList &ports, const SystemView &system, const DiagnosisOptions &options)
{
    const std::vector<Process> all = processes(system, options.findHolders);
    std::vector<Diagnosis> found;
    for (const QString &port : ports)
        found.push_back(diagnose(port, system, options, all));
    return found;
}

std::vector<Diagnosis> diagnoseAdapters(const SystemView &system, const DiagnosisOptions &options)
{
    QStringList adapters;
    for (const QString &name : system.entries(QStringLiteral("/sys/class/tty")))
        if (usbIdsOf(QStringLiteral("/dev/") + name, system))
            adapters.append(QStringLiteral("/dev/") + name);
    std::vector<Diagnosis> all = diagnosePorts(adapters, system, options);
    if (all.empty()) {
        Diagnosis none;
        Finding f;
        f.severity = Severity::Problem;
        f.kind = QStringLiteral("missing");
        f.text = QStringLiteral("No USB serial adapter is connected.");
        f.fix = { QStringLiteral("Plug the adapter in; the kernel's messages tell whether it was seen:"),
            QStringLiteral("sudo dmesg | tail -n 20") };
        none.findings.push_back(f);
        if (isRunning(processes(system, false), QStringLiteral("brltty")))
            none.findings.push_back(brlttyRunningWithoutIds(system));
        all.push_back(none);
    }
    return all;
}

QString severityName(Severity severity)
{
    switch (severity) {
    case Severity::Note:
        return QStringLiteral("Note");
    case Severity::Warning:
        return QStringLiteral("Warning");
    case Severity::Problem:
        return QStringLiteral("Problem");
    }
    return QString();
}

QString describe(const Diagnosis &d)
{
    QString text;
    if (!d.device.isEmpty()) {
        text += d.device;
        QStringList about;
        if (!d.product.isEmpty())
            about.append(d.product);
        if (d.usb)
            about.append(QStringLiteral("USB %1").arg(idsText(*d.usb)));
        if (!d.driver.isEmpty())
            about.append(QStringLiteral("driver %1").arg(d.driver));
        if (!about.isEmpty())
            text += QStringLiteral(": ") + about.join(QStringLiteral(", "));
        text += QLatin1Char('\n');
        for (const QString &link : d.links)
            text += QStringLiteral("  also %1\n").arg(link);
        text += QStringLiteral("  owner %1, group %2, mode %3\n")
                    .arg(d.owner, d.group, QString::number(d.mode, 8).rightJustified(4, QLatin1Char('0')));
    } else if (!d.port.isEmpty()) {
        text += d.port + QLatin1Char('\n');
    }
    for (const Finding &f : d.findings) {
        if (!text.isEmpty())
            text += QLatin1Char('\n');
        text += QStringLiteral("%1: %2\n").arg(severityName(f.severity), f.text);
        for (const QString &line : f.fix)
            text += QStringLiteral("    %1\n").arg(line);
    }
    if (!d.standsInTheWay())
        text += QStringLiteral("Nothing stands in the way%1.\n")
                    .arg(d.device.isEmpty() ? QString() : QStringLiteral(" of opening ") + d.device);
    return text;
}

} // namespace portlink::doctor
