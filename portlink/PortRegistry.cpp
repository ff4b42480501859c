// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/PortRegistry.h"

#include "portlink/Console.h"
#include "portlink/DeviceNotificationCallback.h"
#include "portlink/PortlinkErrors.h"
#include "portlink/PortlinkRuntime.h"
#include "portlink/SerialConfig.h"

#include "omvara/util/ProcessProperties.h"

#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace portlink {

using omvara::util::ProcessProperties;

namespace {

struct RegistryState
{
    std::mutex callbackMutex;
    DeviceNotificationCallback *callDeviceNotification = nullptr;

    std::mutex portListMutex;
    QStringList portList;
    std::mutex portListInfoMutex;
    QList<PortDriverInfo> portListInfo;
    QStringList portNumList;
    QList<int> comPortNums;
    std::atomic<int> portListMode { 0 };
};

RegistryState &state()
{
    static RegistryState s;
    return s;
}

// Trims characters up to and including the blank at both ends.
QString trimControlAndBlank(const QString &s)
{
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && s.at(begin).unicode() <= u' ')
        ++begin;
    while (end > begin && s.at(end - 1).unicode() <= u' ')
        --end;
    return s.mid(begin, end - begin);
}

// Lists handed out of a lock get their own storage, so that the shared list
// is never touched outside its lock, not even through Qt's sharing.
template <typename T> T unshared(const T &value)
{
    T copy = value;
    copy.detach();
    return copy;
}

class RegistryListReceiver final : public PortListReceiver
{
public:
    void addPortName(const QString &name) override { PortRegistry::addPortName(name); }
    void addPortInfo(const QString &name, const QString &manufacture, const QString &description) override
    {
        PortRegistry::addPortInfo(name, manufacture, description);
    }
};

} // namespace

// The port list has three sources:
//  1. the process property "SERIAL_PORT_LIST" (names separated by ";" or
//     ":"), used alone when it holds more than 4 characters after trimming;
//  2. native discovery where the system offers it, which replaces the list
//     (names added with addPortName since then drop out); on Windows-family
//     systems the COM names then come first in numeric order (com3 and COM03
//     both read COM3, COM10 after COM9), other names after them;
//  3. names added with addPortName (the only source without discovery).
QStringList PortRegistry::getPortList()
{
    const PortlinkRuntime::Shared runtime = PortlinkRuntime::shared();
    RegistryState &rs = state();

    const QString listKey = QStringLiteral("SERIAL_PORT_LIST");
    const QString trimmed = ProcessProperties::contains(listKey)
        ? trimControlAndBlank(ProcessProperties::get(listKey))
        : QString();
    if (trimmed.size() > 4) {
        static const QRegularExpression separators(QStringLiteral("[;:]"));
        const QStringList names = trimmed.split(separators, Qt::SkipEmptyParts);
        std::lock_guard lock(rs.portListMutex);
        for (const QString &name : names) {
            if (!rs.portList.contains(name))
                rs.portList.append(name);
        }
        return unshared(rs.portList);
    }

    if (runtime.platform->supGetPortList) {
        {
            std::lock_guard lock(rs.portListMutex);
            rs.portList = QStringList();
            rs.portList.reserve(10);
        }
        RegistryListReceiver receiver;
        runtime.native->SerGetPortList(receiver);
        if (runtime.platform->osFamilyWindows) {
            static const QRegularExpression comName(QStringLiteral("\\ACOM[0-9]+\\z"));
            QStringList snapshot;
            {
                std::lock_guard lock(rs.portListMutex);
                snapshot = unshared(rs.portList);
            }
            QList<int> numbers;
            QStringList others;
            for (const QString &name : snapshot) {
                const QString upper = name.toUpper();
                if (comName.match(upper).hasMatch()) {
                    bool ok = false;
                    const int number = upper.mid(3).toInt(&ok, 10);
                    // A number too large for the list is as unusable as "COM1A".
                    if (ok && !numbers.contains(number))
                        numbers.append(number);
                } else if (!upper.startsWith(QLatin1String("COM"))) {
                    others.append(name);
                }
            }
            std::sort(numbers.begin(), numbers.end());
            {
                std::lock_guard lock(rs.portListMutex);
                rs.portNumList = snapshot;
                rs.comPortNums = numbers;
            }
            QStringList result;
            result.reserve(numbers.size() + others.size());
            for (int n : numbers)
                result.append(QStringLiteral("COM") + QString::number(n));
            result.append(others);
            return result;
        }
    } else {
        bool haveNames;
        {
            std::lock_guard lock(rs.portListMutex);
            haveNames = !rs.portList.isEmpty();
        }
        if (haveNames) {
            Console::println(QStringLiteral("getPortList: using list created with addPortName"));
        } else {
            Console::println(
                QStringLiteral("getPortList: port discovery not currently supported on this platform."));
            Console::println(QStringLiteral("Options:"));
            Console::println(QStringLiteral("A) addPortName can be used to build a list of device names "));
            Console::println(QStringLiteral(
                "B) or set the property SERIAL_PORT_LIST to the names, separated by \";\" for COM ports: "
                "SERIAL_PORT_LIST=COM1;COM2"));
            Console::println(QStringLiteral(
                "   or by \":\" for device paths: SERIAL_PORT_LIST=/dev/ttyUSB0:/dev/ttyACM0"));
        }
    }
    std::lock_guard lock(rs.portListMutex);
    return unshared(rs.portList);
}

void PortRegistry::addPortName(const QString &name)
{
    RegistryState &rs = state();
    std::lock_guard lock(rs.portListMutex);
    if (!rs.portList.contains(name, Qt::CaseInsensitive))
        rs.portList.append(name);
}

void PortRegistry::addPortInfo(const QString &name, const QString &manufacture, const QString &description)
{
    RegistryState &rs = state();
    std::lock_guard lock(rs.portListInfoMutex);
    for (const PortDriverInfo &info : rs.portListInfo) {
        if (info.getPortName().compare(name, Qt::CaseInsensitive) == 0)
            return;
    }
    rs.portListInfo.append(PortDriverInfo(name, manufacture, description));
}

QList<PortDriverInfo> PortRegistry::getDriverInfoList()
{
    if (!PortlinkRuntime::platform()->supDriverInfo)
        throw IoError(QStringLiteral("Not supported on this platform"));
    RegistryState &rs = state();
    {
        std::lock_guard lock(rs.portListMutex);
        if (rs.portList.isEmpty())
            throw IoError(QStringLiteral("Must call SerialPortLocal.getPortList method first"));
    }
    std::lock_guard lock(rs.portListInfoMutex);
    return unshared(rs.portListInfo);
}

void PortRegistry::clearPortListInfo()
{
    RegistryState &rs = state();
    std::lock_guard lock(rs.portListInfoMutex);
    rs.portListInfo.clear();
}

int PortRegistry::getPortListMode()
{
    return state().portListMode.load();
}

void PortRegistry::setPortListMode(int mode)
{
    state().portListMode.store(mode);
}

bool PortRegistry::waitForPortName(const SerialConfig &config, int ms)
{
    return PortlinkRuntime::nativeFor(config.getPortNameString())->SerWaitPortName(config, ms) == 1;
}

void PortRegistry::registerDeviceNotification(DeviceNotificationCallback *callback)
{
    std::shared_ptr<NativeSerial> native = PortlinkRuntime::native();
    {
        RegistryState &rs = state();
        std::lock_guard lock(rs.callbackMutex);
        rs.callDeviceNotification = callback;
    }
    if (callback)
        native->SerRegisterDeviceNotification();
    else
        native->SerUnregisterDeviceNotification();
}

void PortRegistry::unregisterDeviceNotification()
{
    registerDeviceNotification(nullptr);
}

void PortRegistry::deviceNotification()
{
    Console::println(QStringLiteral("Portlink.deviceNotification"));
    PortlinkRuntime::initialise();
    DeviceNotificationCallback *callback;
    {
        RegistryState &rs = state();
        std::lock_guard lock(rs.callbackMutex);
        callback = rs.callDeviceNotification;
    }
    if (callback)
        callback->deviceNotification();
}

void PortRegistry::reset()
{
    RegistryState &rs = state();
    {
        std::lock_guard lock(rs.callbackMutex);
        rs.callDeviceNotification = nullptr;
    }
    {
        std::lock_guard lock(rs.portListMutex);
        rs.portList.clear();
        rs.portNumList.clear();
        rs.comPortNums.clear();
    }
    {
        std::lock_guard lock(rs.portListInfoMutex);
        rs.portListInfo.clear();
    }
    rs.portListMode.store(0);
}

} // namespace portlink
