// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/testing/ScopedNativeSide.h"

#include "portlink/Console.h"
#include "portlink/PortRegistry.h"
#include "portlink/PortlinkRuntime.h"

#include "omvara/util/ProcessProperties.h"

namespace portlink::testing {

using omvara::util::ProcessProperties;

namespace {

std::optional<QString> currentProperty(const QString &name)
{
    if (!ProcessProperties::contains(name))
        return std::nullopt;
    return ProcessProperties::get(name);
}

void restoreProperty(const QString &name, const std::optional<QString> &value)
{
    if (value)
        ProcessProperties::set(name, *value);
    else
        ProcessProperties::remove(name);
}

} // namespace

ScopedNativeSide::ScopedNativeSide(
    std::shared_ptr<NativeSerial> native, const QString &osName, const QString &osArch)
    : ScopedNativeSide([native](const QString &, QString *) { return native; }, osName, osArch)
{
}

ScopedNativeSide::ScopedNativeSide(NativeLoader loader, const QString &osName, const QString &osArch)
    : m_oldOsName(currentProperty(QStringLiteral("PLK_OSNAME")))
    , m_oldOsArch(currentProperty(QStringLiteral("PLK_OSARCH")))
{
    ProcessProperties::set(QStringLiteral("PLK_OSNAME"), osName);
    ProcessProperties::set(QStringLiteral("PLK_OSARCH"), osArch);
    m_oldLoader = PortlinkRuntime::setNativeLoader(std::move(loader));
    PortRegistry::reset();
    PortlinkRuntime::reset();
}

std::unique_ptr<ScopedNativeSide> ScopedNativeSide::failingLoad(
    const QString &loadError, const QString &osName, const QString &osArch)
{
    NativeLoader loader = [loadError](const QString &, QString *error) -> std::shared_ptr<NativeSerial> {
        if (error)
            *error = loadError;
        return nullptr;
    };
    return std::unique_ptr<ScopedNativeSide>(new ScopedNativeSide(std::move(loader), osName, osArch));
}

ScopedNativeSide::~ScopedNativeSide()
{
    restoreProperty(QStringLiteral("PLK_OSNAME"), m_oldOsName);
    restoreProperty(QStringLiteral("PLK_OSARCH"), m_oldOsArch);
    PortlinkRuntime::setNativeLoader(std::move(m_oldLoader));
    PortRegistry::reset();
    PortlinkRuntime::reset();
}

ScopedConsoleCapture::ScopedConsoleCapture()
    : m_shared(std::make_shared<Shared>())
{
    std::shared_ptr<Shared> shared = m_shared;
    Console::setSink([shared](const QString &line) {
        std::lock_guard lock(shared->mutex);
        shared->lines.append(line);
    });
}

ScopedConsoleCapture::~ScopedConsoleCapture()
{
    Console::setSink(nullptr);
}

QStringList ScopedConsoleCapture::lines() const
{
    std::lock_guard lock(m_shared->mutex);
    QStringList copy = m_shared->lines;
    copy.detach();
    return copy;
}

void ScopedConsoleCapture::clear()
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->lines.clear();
}

} // namespace portlink::testing
