// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/util/ProcessProperties.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QtGlobal>

#include <optional>

namespace omvara::util {

namespace {

struct Store
{
    QMutex mutex;
    // A null optional marks a property removed in this process.
    QHash<QString, std::optional<QString>> values;
};

Store &store()
{
    static Store s;
    return s;
}

std::optional<QString> lookup(const QString &name)
{
    Store &s = store();
    QMutexLocker lock(&s.mutex);
    auto it = s.values.constFind(name);
    if (it != s.values.cend())
        return *it;
    if (name.isEmpty() || name.contains(u'.') || name.contains(u'='))
        return std::nullopt;
    const QByteArray key = name.toLocal8Bit();
    if (!qEnvironmentVariableIsSet(key.constData()))
        return std::nullopt;
    return qEnvironmentVariable(key.constData());
}

} // namespace

QString ProcessProperties::get(const QString &name, const QString &fallback)
{
    return lookup(name).value_or(fallback);
}

bool ProcessProperties::contains(const QString &name)
{
    return lookup(name).has_value();
}

void ProcessProperties::set(const QString &name, const QString &value)
{
    Store &s = store();
    QMutexLocker lock(&s.mutex);
    s.values.insert(name, value);
}

void ProcessProperties::remove(const QString &name)
{
    Store &s = store();
    QMutexLocker lock(&s.mutex);
    s.values.insert(name, std::nullopt);
}

void ProcessProperties::reset()
{
    Store &s = store();
    QMutexLocker lock(&s.mutex);
    s.values.clear();
}

} // namespace omvara::util
