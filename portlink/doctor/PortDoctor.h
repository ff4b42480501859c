// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "portlink/doctor/SystemView.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace portlink::doctor {

// How much a finding stands in the way of using the port.
enum class Severity {
    Note, // worth knowing; nothing stands in the way
    Warning, // the port opens, but something disturbs the instrument or takes the port later
    Problem, // the port cannot be used until it is mended
};

// A rule file that mends a finding, for the user to install (the doctor
// never installs it by itself).
struct RuleFile
{
    QString path; // e.g. /etc/udev/rules.d/70-omvara-0403-6001.rules
    QByteArray contents;
};

// One thing the diagnosis found, in plain words, with what to do about it.
struct Finding
{
    Severity severity = Severity::Note;
    QString kind; // "missing", "permission", "relogin", "brltty", "modemmanager", "holder", "console", ...
    QString text; // one plain sentence
    QStringList fix; // commands the user can copy, or steps in words
    QString mark; // a few words for a list of ports ("held by minicom (pid 4242)"); may be empty
    std::optional<RuleFile> rule;
};

// A USB adapter's identity.
struct UsbIds
{
    QString vendor; // four lower-case hex digits, e.g. "1a86"
    QString product;
};

// What the diagnosis found out about one port.
struct Diagnosis
{
    QString port; // as asked for ("/dev/ttyUSB0", a by-id name, ...), empty for "no adapter"
    QString device; // the device node behind it; empty when there is none
    QStringList links; // its /dev/serial/by-id and by-path names
    std::optional<UsbIds> usb;
    QString product; // the USB product and maker strings, when known
    QString driver; // the kernel driver, e.g. "ftdi_sio"
    QString owner, group; // of the device node
    unsigned mode = 0;
    std::vector<Finding> findings;

    // True when a warning or problem stands in the way.
    bool standsInTheWay() const;
    // The most severe finding's mark, for a list of ports; empty when none.
    QString mark() const;
};

struct DiagnosisOptions
{
    // Look again after a short wait whether the device node is still there
    // (where brltty may take it).
    bool watchForVanishing = true;
    int vanishingWaitMs = 2500;
    // Scan other processes for one that holds the device open.
    bool findHolders = true;
};

// Reads what the system says about `port`; never opens a device.
Diagnosis diagnosePort(const QString &port, const SystemView &system, const DiagnosisOptions &options = {});
// Several ports at once (a list of ports to mark), the processes read once.
std::vector<Diagnosis> diagnosePorts(
    const QStringList &ports, const SystemView &system, const DiagnosisOptions &options = {});
// Every USB serial adapter present; one diagnosis saying that none was
// found when there is none.
std::vector<Diagnosis> diagnoseAdapters(const SystemView &system, const DiagnosisOptions &options = {});

// The USB ids of the adapter behind a device node (read from /sys), while it is there.
std::optional<UsbIds> usbIdsOf(const QString &device, const SystemView &system);
// brltty's finding for an adapter with these ids: installed, and its udev
// rules claim the adapter. Nothing when it does not.
std::optional<Finding> brlttyClaim(const UsbIds &ids, const SystemView &system);

// The diagnosis as text for a terminal or a dialog, a finding per paragraph.
QString describe(const Diagnosis &diagnosis);
QString severityName(Severity severity);

} // namespace portlink::doctor
