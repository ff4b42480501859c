// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/prefs/FilePreferencesFactory.h"

#include "omvara/prefs/FilePreferences.h"
#include "omvara/util/ProcessProperties.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>

namespace omvara::prefs {

// Quiet unless asked for (QT_LOGGING_RULES="omvara.prefs.*=true").
Q_LOGGING_CATEGORY(lcFilePreferencesFactory, "omvara.prefs.FilePreferencesFactory", QtWarningMsg)

const QString FilePreferencesFactory::CLASS_NAME = QStringLiteral("omvara.prefs.FilePreferencesFactory");
const QString FilePreferencesFactory::SYSTEM_PROPERTY_FILE
    = QStringLiteral("omvara.prefs.FilePreferencesFactory.file");

namespace {

struct FileState
{
    QMutex mutex;
    QString preferencesFile; // empty until the first getPreferencesFile()
};

FileState &fileState()
{
    static FileState state;
    return state;
}

} // namespace

FilePreferencesFactory::FilePreferencesFactory() = default;
FilePreferencesFactory::~FilePreferencesFactory() = default;

Preferences *FilePreferencesFactory::userRoot()
{
    QMutexLocker guard(&mutex);
    if (!rootPreferences) {
        qCInfo(lcFilePreferencesFactory, "Instantiating root preferences");
        rootPreferences = std::make_unique<FilePreferences>(nullptr, QString());
    }
    return rootPreferences.get();
}

Preferences *FilePreferencesFactory::systemRoot()
{
    return userRoot();
}

bool FilePreferencesFactory::writeTogether(const std::function<void()> &changes)
{
    auto *root = static_cast<FilePreferences *>(userRoot());
    {
        const FilePreferences::HoldWrites held;
        changes();
    }
    root->flushTree();
    return true;
}

QString FilePreferencesFactory::getPreferencesFile()
{
    FileState &state = fileState();
    QMutexLocker guard(&state.mutex);
    if (state.preferencesFile.isEmpty()) {
        QString path = util::ProcessProperties::get(SYSTEM_PROPERTY_FILE);
        if (path.isEmpty())
            path = util::ProcessProperties::get(QStringLiteral("user.home"), QDir::homePath())
                + QDir::separator() + QStringLiteral(".fileprefs");
        state.preferencesFile = QFileInfo(path).absoluteFilePath();
        qCInfo(lcFilePreferencesFactory).noquote()
            << QStringLiteral("Preferences file is ") + state.preferencesFile;
    }
    return state.preferencesFile;
}

void FilePreferencesFactory::forgetPreferencesFile()
{
    FileState &state = fileState();
    QMutexLocker guard(&state.mutex);
    state.preferencesFile.clear();
}

} // namespace omvara::prefs
