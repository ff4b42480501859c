// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/prefs/Preferences.h"

#include <QMutex>

class QSettings;

namespace omvara::prefs {

class SettingsPreferences;

// The per-user store of an ordinary installation: the user's native settings
// store (on Linux an INI-style file, "Brindlecote/Omvara.conf" in the user's
// configuration folder, $XDG_CONFIG_HOME or ~/.config; the registry on
// Windows). A node is a settings
// group named by its path ("com/brindlecote/Omvara"), each entry one key of
// the group. Names are stored with "%", "/" and "\" written as %25, %2F and
// %5C, since the settings file gives "/" and "\" a meaning of its own; the
// empty key, which the settings file cannot hold, is written as "%00".
//
// Values are kept in memory until a flush or sync writes them (a settings
// file is itself replaced atomically and locked against other processes).
class SettingsPreferencesFactory : public PreferencesFactory
{
public:
    // `iniFile` empty: the user's own native store; otherwise that INI file.
    explicit SettingsPreferencesFactory(const QString &iniFile = QString());
    ~SettingsPreferencesFactory() override;

    Preferences *userRoot() override;
    // The same tree: the program keeps no settings for the whole machine here.
    Preferences *systemRoot() override;

    QString fileName() const;

private:
    friend class SettingsPreferences;
    static std::unique_ptr<QSettings> open(const QString &iniFile);
    // Writes the settings held in memory to a fresh file after moving a file
    // that cannot be parsed aside (to "<file>.damaged"); under `settingsMutex`.
    void replaceDamagedFile();

    QString iniFile;
    // One settings object for the whole tree, used under `settingsMutex`.
    std::unique_ptr<QSettings> settings;
    QMutex settingsMutex;
    QMutex rootMutex;
    std::unique_ptr<SettingsPreferences> root;
};

class SettingsPreferences : public Preferences
{
public:
    SettingsPreferences(
        SettingsPreferencesFactory &factory, SettingsPreferences *parent, const QString &name);

    static QString encodeName(const QString &name);
    static QString decodeName(const QString &stored);

protected:
    std::optional<QString> getSpi(const QString &key) override;
    void putSpi(const QString &key, const QString &value) override;
    void removeSpi(const QString &key) override;
    void removeNodeSpi() override;
    QStringList keysSpi() override;
    QStringList childrenNamesSpi() override;
    Preferences *childSpi(const QString &name) override;
    void syncSpi() override;
    void flushSpi() override;

private:
    QString group() const;
    void requireReadable() const; // caller holds settingsMutex

    SettingsPreferencesFactory &factory;
};

} // namespace omvara::prefs
