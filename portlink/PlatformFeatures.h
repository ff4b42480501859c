// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

namespace portlink {

// The decisions the serial layer takes once per process from the system and
// processor names: which native library serves this system, which port
// operations it offers, its highest bit rate and default device name.
// The tables are keyed by the exact names the platform reports.
struct PlatformFeatures
{
    QString osName;
    QString osArch;
    QString runtimeVersion;
    QString runtimeName;

    QString plkLib; // empty: no native library for this system
    bool osFamilyWindows = false;
    int maxBitRate = 115200;
    QString devName;
    bool softGetDataTimeout = false;

    bool supGetPortList = false;
    bool supUnplugPort = false;
    bool supSendBreak = true;
    bool supSigBreak = false;
    bool supSigFrameErr = false;
    bool supSigOverrun = false;
    bool supSigParityErr = false;
    bool supRxOverflow = false;
    bool supSigRing = false;
    bool supSigCTS = false;
    bool supSigDSR = false;
    bool supSigCD = false;
    bool supSetRTS = false;
    bool supSetDTR = false;
    bool supRxReadyCount = false;
    bool supTxBufCount = false;
    bool supSetTimeoutTx = false;
    bool supGetTimeoutTx = false;
    bool supGetStatusAPM = false;
    bool supSetPowerMode = false;
    bool supGetResumeState = false;
    bool supInstanceLock = false;
    bool supParityMarkSpace = false;
    bool supNoIndexBitRate = false;
    bool supDriverInfo = false;

    // Sets the support flags, maxBitRate, devName and softGetDataTimeout from
    // osName and osArch.
    void featureSetup();
    // Sets plkLib (and osFamilyWindows) from osName and osArch. When both
    // override names are given they replace osName and osArch first.
    void setNativeLibName(const std::optional<QString> &plkOsName, const std::optional<QString> &plkOsArch);
    // The flag for a feature name ("sigCTS", "ParityMarkSpace", ...); false for unknown names.
    bool isSupported(const QString &feature) const;
};

} // namespace portlink
