// SPDX-License-Identifier: GPL-3.0-or-later
// Makes the preferences tree backed by the shared settings file.
#pragma once

#include "omvara/prefs/Preferences.h"

#include <QLoggingCategory>
#include <QMutex>

namespace omvara::prefs {

Q_DECLARE_LOGGING_CATEGORY(lcFilePreferencesFactory)

class FilePreferences;

// The factory of the file-backed store: one tree kept in one properties
// file, so that every user of a machine can share one set of settings.
// Installed by setting Preferences::FACTORY_PROPERTY to CLASS_NAME and
// SYSTEM_PROPERTY_FILE to the file's path before the first use of the tree.
class FilePreferencesFactory : public PreferencesFactory
{
public:
    static const QString CLASS_NAME; // "omvara.prefs.FilePreferencesFactory"
    static const QString SYSTEM_PROPERTY_FILE; // "omvara.prefs.FilePreferencesFactory.file"

    FilePreferencesFactory();
    ~FilePreferencesFactory() override;

    // The root node, created on the first call.
    Preferences *userRoot() override;
    // The same tree as userRoot().
    Preferences *systemRoot() override;
    // The changes in one replacement of the file; true.
    bool writeTogether(const std::function<void()> &changes) override;

    // The absolute path of the store file, worked out on the first call from
    // SYSTEM_PROPERTY_FILE (or, when unset or empty, "user.home" + "/.fileprefs")
    // and kept for the rest of the process.
    static QString getPreferencesFile();
    // Forgets the remembered path, so that the next call reads the property
    // again (tests only).
    static void forgetPreferencesFile();

private:
    QMutex mutex;
    std::unique_ptr<FilePreferences> rootPreferences;
};

} // namespace omvara::prefs
