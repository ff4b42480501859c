// SPDX-License-Identifier: GPL-3.0-or-later
// The connections: ports, each with its own settings, served at once.
#pragma once

#include "omvara/config/Config.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace omvara::config {

struct Setting;

// The name of a connection: 1 to 80 characters from the letters A-Z and
// a-z, the digits, "-" and "_" ("balance-1"). Every installation has a first
// connection, named "1" until the user renames it.
class ConnectionName final
{
public:
    static constexpr int MaxLength = 80;
    // The first connection's name in the settings node (its row in settingsTable()).
    static constexpr const char *Key = "connectionName";
    ConnectionName() = delete;
    static QString getDefault() { return QStringLiteral("1"); }
    static bool valid(const QString &name) { return problem(name).isEmpty(); }
    // Why `name` names no connection, in words; empty when it does.
    static QString problem(const QString &name);
};

// Whether `setting` is kept in a further connection's own node: a setting of
// the connection (Setting::Scope::Connection) other than its name, which is
// the node's name.
bool storedPerConnection(const Setting &setting);

// The connections of an installation, in their order; there is always at
// least one. Each holds a whole Config, named by getConnectionName(); the
// settings that apply to the whole program (Setting::Scope::Program) are
// the same in all of them: they are the first connection's.
class Connections
{
public:
    // One connection, "1", with the given settings (named "1" unless they carry a name).
    explicit Connections(Config first = Config());
    Connections(Connections &&) = default;
    Connections &operator=(Connections &&) = default;

    qsizetype size() const { return qsizetype(m_list.size()); }
    Config &at(qsizetype i) { return m_list[std::size_t(i)]; }
    const Config &at(qsizetype i) const { return m_list[std::size_t(i)]; }
    Config &first() { return m_list.front(); }
    const Config &first() const { return m_list.front(); }
    // -1 when no connection has that name.
    qsizetype indexOf(const QString &name) const;
    Config *find(const QString &name);
    QStringList names() const;

    // Why `name` cannot be given to a new connection, or to connection `self`
    // (rename): not a name, or another connection's; empty when it can.
    QString nameProblem(const QString &name, qsizetype self = -1) const;
    // Appends a connection named `name` with a copy of `from`'s settings;
    // false with `problem` when the name cannot be given.
    bool add(const QString &name, const Config &from, QString *problem = nullptr);
    bool rename(qsizetype i, const QString &name, QString *problem = nullptr);
    // Removes connection `i`; the last one stays (false).
    bool remove(qsizetype i);
    // Every connection takes the program-wide settings of `from`.
    void shareProgramSettings(const Config &from);

    // A copy of every connection.
    Connections copy() const;
    bool hasChanged(const Connections &other) const;

private:
    std::vector<Config> m_list;
};

// Why these connections cannot run side by side: two of them ask for
// readings with one hotkey, which only one of them could take. The text
// names both and the hotkey; empty when no two share one.
QString hotkeyClash(const std::vector<const Config *> &connections);

} // namespace omvara::config
