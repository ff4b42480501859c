// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/prefs/Preferences.h"

#include <QString>
#include <QStringList>

namespace omvara::config {

class Config;
class Connections;

// Keeps a Config in the preferences node "/com/brindlecote/Omvara": load
// (with invalid stored values replaced by defaults), save, and export and
// import of the node as an XML file. The main window calls it; the command
// line uses it for --export and --import. Use on one thread at a time.
//
// Failures are reported as prefs::PreferencesError (a BackingStoreError when
// the store or a file cannot be read or written) carrying the message to
// show after the window's own text.
class ConfigStore
{
public:
    static const QString NODE_PATH; // "/com/brindlecote/Omvara"
    static const QString SHARED_FILE; // "/Brindlecote/OmvaraMU/prefs.txt", below the shared folder
    static const QString SHARED_FOLDER_VARIABLE; // "ProgramData"
    static const QString DEFAULT_SHARED_FOLDER; // "/var/lib", when "ProgramData" is unset or empty
    static const QString SHARED_SWITCH; // "OMVARA_SHARED_PREFS": "1" shared, "0" per user
    static const QString SHARED_MARKER; // "omvara-shared-prefs", a file beside the executable

    // A store on the process's preferences tree. The backend is chosen when
    // the node is first needed: an explicit choice made before (useFileStore,
    // the factory property) stands; otherwise a shared installation (see
    // isSharedInstallation) gets the shared file, any other the user's own store.
    explicit ConfigStore(const QString &installationFolder = QString());
    // A store on the tree of `factory`, which the caller keeps alive (tests).
    explicit ConfigStore(prefs::PreferencesFactory &factory);

    // Shared when the process property or environment variable SHARED_SWITCH
    // is set to anything but "", "0", "false" or "no", or, with SHARED_SWITCH
    // unset, when the file SHARED_MARKER exists in `installationFolder`.
    static bool isSharedInstallation(const QString &installationFolder);
    // "ProgramData" (or DEFAULT_SHARED_FOLDER) followed by SHARED_FILE.
    static QString sharedPreferencesFile();
    // Selects the file-backed store at `path` for the process's tree; has no
    // effect once the tree is in use.
    static void useFileStore(const QString &path);

    // Reads every setting into `config`; `portNames` is the current port list
    // (the port is read only when it is not empty, with its first name as the
    // default). Returns false when a stored value was invalid and replaced by
    // its default. Never writes the store. A store that cannot be read throws;
    // the fields read before the failure keep their new values.
    bool loadConfig(Config &config, const QStringList &portNames);

    // Reads every connection: the first from the node itself (loadConfig),
    // each further one from the child node of its name, which holds its
    // own settings (Setting::Scope::Connection); the program-wide settings
    // are the first's. A child node whose name is no connection's name, or
    // is the first connection's, is skipped with a note. Returns false as
    // loadConfig; a replaced setting of a further connection is named
    // "NAME:key".
    bool loadConnections(Connections &connections, const QStringList &portNames);
    // Writes every connection as loadConnections reads them, removes the
    // child nodes of connections that are gone, then flushes. With one
    // connection named "1" the store holds exactly what saveConfig writes.
    void saveConnections(const Connections &connections);

    // A stored setting the last loadConfig replaced by its default.
    struct ReplacedSetting
    {
        QString key; // as stored (the key of its row in settingsTable())
        QString stored; // what the store held
        QString replacement; // what it was replaced by, as stored
        QString reason = {}; // why the stored value was refused, when known
    };
    // The settings the last loadConfig replaced, as far as it could name them.
    const QList<ReplacedSetting> &replacedSettings() const { return m_replaced; }
    // "key: "stored" → replacement" lines, one per setting, for messages,
    // each followed by " (reason)" when the reason is known.
    static QString describe(const QList<ReplacedSetting> &replaced);
    // Settings the last loadConfig kept although their meaning may surprise
    // (a custom pattern with "[:digit:]" in a class): "key: note" lines.
    const QStringList &loadNotes() const { return m_notes; }

    // Writes every setting, the previous port equal to the port, then flushes. A write
    // the preferences refuse is reported on the diagnostic output as
    // "saveConfig exception: " + reason, the remaining writes are skipped, and
    // the node is flushed all the same. A failing flush throws.
    void saveConfig(const Config &config);

    // Writes the node (its own keys, and those of the further connections'
    // child nodes) to `file` as an export document.
    // The file is replaced whole: on failure an existing file is unchanged.
    void exportTo(const QString &file);

    // Reads `file` whole and writes its entries into the nodes it names, then
    // synchronises the node. An unreadable file or a document that is not an
    // export document changes nothing.
    void importFrom(const QString &file);

    // The settings node, opened on first use.
    prefs::Preferences &node();

private:
    // Reads the rows `wanted` accepts from `node` into `config`; refused
    // ones are recorded with `prefix` before their key.
    void readRows(prefs::Preferences &node, Config &config, const QStringList &portNames,
        bool (*wanted)(const struct Setting &), const QString &prefix);
    // Writes the rows `wanted` accepts of `config` into `node`.
    void writeRows(prefs::Preferences &node, const Config &config, bool (*wanted)(const struct Setting &));
    // The child nodes that hold further connections.
    QStringList connectionNodes(const QString &firstName);

    prefs::PreferencesFactory *factory = nullptr; // null: the process's tree
    QString installationFolder;
    prefs::Preferences *settings = nullptr;
    QList<ReplacedSetting> m_replaced;
    QStringList m_notes;
};

} // namespace omvara::config
