// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/ConfigStore.h"

#include "omvara/config/Config.h"
#include "omvara/config/Connections.h"
#include "omvara/config/SettingsTable.h"
#include "omvara/prefs/FilePreferencesFactory.h"
#include "omvara/prefs/PreferencesXml.h"
#include "omvara/util/ProcessProperties.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>

namespace omvara::config {

namespace {

Q_LOGGING_CATEGORY(lcConfigStore, "omvara.config.ConfigStore")

using prefs::Preferences;

// The path of the settings node below the root: "com", "brindlecote", "Omvara".
QStringList nodeNames()
{
    return ConfigStore::NODE_PATH.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

// Whether an entry of the settings node travels in export documents: every
// entry but those of settings kept for one user only (unknown keys travel).
bool exported(const QString &key)
{
    const Setting *s = findSetting(key);
    return !s || s->exported;
}

// Drops the entries of the settings node that export documents do not carry
// from a parsed document (of the user tree), wherever the document names it.
void dropUnexported(prefs::PreferencesXml::Node &node, const QStringList &path, qsizetype depth)
{
    const auto drop = [](prefs::PreferencesXml::Node &n) {
        n.entries.removeIf([](const prefs::PreferencesXml::Entry &e) { return !exported(e.first); });
    };
    if (depth == path.size()) {
        drop(node);
        // The further connections' nodes.
        for (prefs::PreferencesXml::Node &child : node.children)
            drop(child);
        return;
    }
    for (prefs::PreferencesXml::Node &child : node.children)
        if (child.name == path[depth])
            dropUnexported(child, path, depth + 1);
}

} // namespace

const QString ConfigStore::NODE_PATH = QStringLiteral("/com/brindlecote/Omvara");
const QString ConfigStore::SHARED_FILE = QStringLiteral("/Brindlecote/OmvaraMU/prefs.txt");
const QString ConfigStore::SHARED_FOLDER_VARIABLE = QStringLiteral("ProgramData");
const QString ConfigStore::DEFAULT_SHARED_FOLDER = QStringLiteral("/var/lib");
const QString ConfigStore::SHARED_SWITCH = QStringLiteral("OMVARA_SHARED_PREFS");
const QString ConfigStore::SHARED_MARKER = QStringLiteral("omvara-shared-prefs");

ConfigStore::ConfigStore(const QString &installationFolder)
    : installationFolder(installationFolder)
{
}

ConfigStore::ConfigStore(prefs::PreferencesFactory &factory)
    : factory(&factory)
{
}

bool ConfigStore::isSharedInstallation(const QString &installationFolder)
{
    if (util::ProcessProperties::contains(SHARED_SWITCH)) {
        const QString value = util::ProcessProperties::get(SHARED_SWITCH).trimmed().toLower();
        return !(value.isEmpty() || value == u"0" || value == u"false" || value == u"no");
    }
    return !installationFolder.isEmpty()
        && QFileInfo::exists(QDir(installationFolder).filePath(SHARED_MARKER));
}

QString ConfigStore::sharedPreferencesFile()
{
    QString folder = util::ProcessProperties::get(SHARED_FOLDER_VARIABLE);
    if (folder.isEmpty())
        folder = DEFAULT_SHARED_FOLDER;
    return folder + SHARED_FILE;
}

void ConfigStore::useFileStore(const QString &path)
{
    util::ProcessProperties::set(Preferences::FACTORY_PROPERTY, prefs::FilePreferencesFactory::CLASS_NAME);
    util::ProcessProperties::set(prefs::FilePreferencesFactory::SYSTEM_PROPERTY_FILE, path);
}

Preferences &ConfigStore::node()
{
    if (!settings) {
        if (factory) {
            settings = factory->userRoot()->node(NODE_PATH);
        } else {
            if (!util::ProcessProperties::contains(Preferences::FACTORY_PROPERTY)
                && isSharedInstallation(installationFolder))
                useFileStore(sharedPreferencesFile());
            settings = Preferences::userRoot()->node(NODE_PATH);
        }
    }
    return *settings;
}

QString ConfigStore::describe(const QList<ReplacedSetting> &replaced)
{
    QStringList lines;
    for (const ReplacedSetting &r : replaced)
        lines.append(
            QStringLiteral("%1: \"%2\" \u2192 %3")
                .arg(r.key, r.stored, r.replacement.isEmpty() ? QStringLiteral("\"\"") : r.replacement)
            + (r.reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(r.reason)));
    return lines.join(QLatin1Char('\n'));
}

void ConfigStore::readRows(Preferences &n, Config &config, const QStringList &portNames,
    bool (*wanted)(const Setting &), const QString &prefix)
{
    const Setting::Context context { &portNames };
    for (const Setting &s : settingsTable()) {
        if (!wanted(s))
            continue;
        const QString key = s.name();
        const QString text = n.get(key, s.defaultText(config, context));
        Setting::Refusal refusal;
        switch (s.read(config, text, context, &refusal)) {
        case Setting::Reading::Taken:
            // A valid text that may not mean what its author expects is kept and noted.
            if (s.note)
                if (const QString note = s.note(text); !note.isEmpty())
                    m_notes.append(prefix + key + QStringLiteral(": ") + note);
            break;
        case Setting::Reading::Ignored:
            break;
        case Setting::Reading::Refused:
            m_replaced.append({ prefix + key, text, refusal.replacement, refusal.reason });
            break;
        }
    }
}

bool ConfigStore::loadConfig(Config &config, const QStringList &portNames)
{
    Preferences &n = node();
    m_replaced.clear();
    m_notes.clear();
    readRows(
        n, config, portNames, [](const Setting &) { return true; }, QString());
    // A backend that cannot be read fails here at the latest.
    (void)n.keys();
    return m_replaced.isEmpty();
}

QStringList ConfigStore::connectionNodes(const QString &firstName)
{
    QStringList names;
    for (const QString &name : node().childrenNames()) {
        if (!ConnectionName::valid(name)) {
            m_notes.append(QStringLiteral("%1: not read, \"%1\" is no connection's name (%2)")
                               .arg(name, ConnectionName::problem(name)));
        } else if (name == firstName) {
            m_notes.append(QStringLiteral("%1: not read, the first connection has this name").arg(name));
        } else {
            names << name;
        }
    }
    return names;
}

bool ConfigStore::loadConnections(Connections &connections, const QStringList &portNames)
{
    Config first;
    const bool firstValid = loadConfig(first, portNames);
    connections = Connections(std::move(first));
    for (const QString &name : connectionNodes(connections.first().getConnectionName())) {
        connections.add(name, connections.first());
        Config &c = connections.at(connections.size() - 1);
        readRows(*node().node(name), c, portNames, storedPerConnection, name + QLatin1Char(':'));
    }
    return firstValid && m_replaced.isEmpty();
}

void ConfigStore::writeRows(Preferences &n, const Config &config, bool (*wanted)(const Setting &))
{
    for (const Setting &s : settingsTable())
        if (wanted(s))
            if (const std::optional<QString> text = s.write(config))
                n.put(s.name(), *text);
}

void ConfigStore::saveConnections(const Connections &connections)
{
    Preferences &n = node();
    try {
        writeRows(n, connections.first(), [](const Setting &) { return true; });
        // Further connections are named by their nodes; the first only when renamed.
        const QString nameKey = QLatin1String(ConnectionName::Key);
        if (connections.first().getConnectionName() == ConnectionName::getDefault()
            && !n.get(nameKey, QString()).isNull())
            n.remove(nameKey);
        QStringList kept;
        for (qsizetype i = 1; i < connections.size(); ++i) {
            const Config &c = connections.at(i);
            kept << c.getConnectionName();
            writeRows(*n.node(c.getConnectionName()), c, [](const Setting &s) {
                return storedPerConnection(s) || QLatin1String(s.key) == QLatin1String("prevPort");
            });
        }
        for (const QString &name : n.childrenNames())
            if (!kept.contains(name) && ConnectionName::valid(name))
                n.node(name)->removeNode();
    } catch (const prefs::PreferencesRefusedError &e) {
        qCWarning(lcConfigStore).noquote() << QStringLiteral("saveConfig exception: ") + e.message();
    }
    n.flush();
}

void ConfigStore::saveConfig(const Config &config)
{
    Preferences &n = node();
    try {
        writeRows(n, config, [](const Setting &) { return true; });
    } catch (const prefs::PreferencesRefusedError &e) {
        qCWarning(lcConfigStore).noquote() << QStringLiteral("saveConfig exception: ") + e.message();
    }
    n.flush();
}

void ConfigStore::exportTo(const QString &file)
{
    Preferences &n = node();
    // A node whose store could not be read holds nothing; exported, it would
    // be a valid document that wipes the settings of every installation it
    // is imported into. Reading the store again fails loudly instead.
    n.sync();
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        throw prefs::BackingStoreError(QStringLiteral("Cannot write %1: %2").arg(file, out.errorString()));
    QStringList connections;
    for (const QString &name : n.childrenNames())
        if (ConnectionName::valid(name))
            connections << name;
    n.exportNode(out, exported, connections);
    if (!out.commit())
        throw prefs::BackingStoreError(QStringLiteral("Cannot write %1: %2").arg(file, out.errorString()));
}

void ConfigStore::importFrom(const QString &file)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        throw prefs::BackingStoreError(QStringLiteral("Cannot read %1: %2").arg(file, in.errorString()));
    if (in.size() > prefs::PreferencesXml::MAX_DOCUMENT_SIZE)
        throw prefs::InvalidPreferencesFormatError(
            QStringLiteral("%1 is larger than %2 MiB, too large for a settings file")
                .arg(file)
                .arg(prefs::PreferencesXml::MAX_DOCUMENT_SIZE / (1024 * 1024)));
    const QByteArray document = in.read(prefs::PreferencesXml::MAX_DOCUMENT_SIZE + 1);
    if (in.error() != QFileDevice::NoError)
        throw prefs::BackingStoreError(QStringLiteral("Cannot read %1: %2").arg(file, in.errorString()));

    Preferences &n = node();
    prefs::PreferencesXml::Document parsed = prefs::PreferencesXml::parse(document);
    if (!parsed.systemTree)
        dropUnexported(parsed.root, nodeNames(), 0);
    // The backends put each entry at once and only log a write that fails,
    // so a store that cannot be written would take the import in memory only
    // and lose it. It is tried before anything is put, and every write is
    // confirmed afterwards.
    n.flush();
    prefs::PreferencesFactory &tree = factory ? *factory : Preferences::factory();
    // All entries in one write of the store: an import cut short (a kill, a
    // full disk) leaves the store as it was, and a large one is no slower
    // than a save.
    if (!tree.writeTogether(
            [&] { prefs::PreferencesXml::apply(parsed, *tree.userRoot(), *tree.systemRoot()); })) {
        tree.userRoot()->flush();
        if (parsed.systemTree)
            tree.systemRoot()->flush();
    }
    n.sync();
}

} // namespace omvara::config
