// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/Connections.h"

#include "omvara/config/RequestSettings.h"
#include "omvara/config/SettingsTable.h"

#include <optional>
#include <utility>

namespace omvara::config {

QString ConnectionName::problem(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("a connection needs a name");
    if (name.size() > MaxLength)
        return QStringLiteral("a connection's name has at most %1 characters").arg(MaxLength);
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        const bool allowed = (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9')
            || u == u'-' || u == u'_';
        if (!allowed)
            return QStringLiteral("a connection's name has only letters A-Z, digits, \"-\" and \"_\", not "
                                  "\"%1\"")
                .arg(c);
    }
    return {};
}

bool storedPerConnection(const Setting &setting)
{
    return setting.scope == Setting::Scope::Connection
        && QLatin1String(setting.key) != QLatin1String(ConnectionName::Key);
}

Connections::Connections(Config first)
{
    if (!ConnectionName::valid(first.getConnectionName()))
        first.setConnectionName(ConnectionName::getDefault());
    m_list.push_back(std::move(first));
}

qsizetype Connections::indexOf(const QString &name) const
{
    for (std::size_t i = 0; i < m_list.size(); ++i)
        if (m_list[i].getConnectionName() == name)
            return qsizetype(i);
    return -1;
}

Config *Connections::find(const QString &name)
{
    const qsizetype i = indexOf(name);
    return i < 0 ? nullptr : &at(i);
}

QStringList Connections::names() const
{
    QStringList names;
    for (const Config &c : m_list)
        names << c.getConnectionName();
    return names;
}

QString Connections::nameProblem(const QString &name, qsizetype self) const
{
    if (QString problem = ConnectionName::problem(name); !problem.isEmpty())
        return problem;
    const qsizetype other = indexOf(name);
    if (other >= 0 && other != self)
        return QStringLiteral("there is a connection named \"%1\" already").arg(name);
    return {};
}

bool Connections::add(const QString &name, const Config &from, QString *problem)
{
    const QString why = nameProblem(name);
    if (problem)
        *problem = why;
    if (!why.isEmpty())
        return false;
    Config copy = from.copyConfig();
    copy.setConnectionName(name);
    copy.setPrevPort(QString());
    m_list.push_back(std::move(copy));
    shareProgramSettings(first());
    return true;
}

bool Connections::rename(qsizetype i, const QString &name, QString *problem)
{
    const QString why = nameProblem(name, i);
    if (problem)
        *problem = why;
    if (!why.isEmpty())
        return false;
    at(i).setConnectionName(name);
    return true;
}

bool Connections::remove(qsizetype i)
{
    if (m_list.size() <= 1 || i < 0 || i >= size())
        return false;
    Config program = first().copyConfig();
    m_list.erase(m_list.begin() + i);
    // A removed first connection hands its program-wide settings on.
    shareProgramSettings(program);
    return true;
}

void Connections::shareProgramSettings(const Config &from)
{
    for (Config &c : m_list) {
        if (&c == &from)
            continue;
        for (const Setting &s : settingsTable())
            if (s.scope == Setting::Scope::Program && s.copy)
                s.copy(from, c);
    }
}

Connections Connections::copy() const
{
    Connections copy(first().copyConfig());
    copy.m_list.front().setPrevPort(first().getPrevPort());
    for (std::size_t i = 1; i < m_list.size(); ++i) {
        copy.m_list.push_back(m_list[i].copyConfig());
        copy.m_list.back().setPrevPort(m_list[i].getPrevPort());
    }
    return copy;
}

bool Connections::hasChanged(const Connections &other) const
{
    if (size() != other.size())
        return true;
    for (qsizetype i = 0; i < size(); ++i)
        if (at(i).hasChanged(other.at(i)))
            return true;
    return false;
}

QString hotkeyClash(const std::vector<const Config *> &connections)
{
    std::vector<std::pair<const Config *, RequestHotkey::Chord>> taken;
    for (const Config *config : connections) {
        const std::optional<RequestHotkey::Chord> chord = config->getRequestHotkey().isEmpty()
            ? std::nullopt
            : RequestHotkey::parse(config->getRequestHotkey());
        if (!chord)
            continue;
        for (const auto &[other, held] : taken)
            if (held.modifiers == chord->modifiers && held.key == chord->key)
                return QStringLiteral(
                    "connections \"%1\" and \"%2\" both ask for readings with the hotkey %3")
                    .arg(other->getConnectionName(), config->getConnectionName(), config->getRequestHotkey());
        taken.emplace_back(config, *chord);
    }
    return {};
}

} // namespace omvara::config
