// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/prefs/FilePreferences.h"

#include "omvara/prefs/FilePreferencesFactory.h"
#include "omvara/prefs/FileStorage.h"
#include "omvara/util/Properties.h"

#include <QDateTime>
#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <mutex>

namespace omvara::prefs {

// Quiet unless asked for (QT_LOGGING_RULES="omvara.prefs.*=true"): only failures show.
Q_LOGGING_CATEGORY(lcFilePreferences, "omvara.prefs.FilePreferences", QtWarningMsg)

const QString FilePreferences::FILE_COMMENT = QStringLiteral("FilePreferences");

namespace {

// The one lock around every read and write of the file by this process.
QMutex &fileLock()
{
    static QMutex mutex;
    return mutex;
}

std::atomic<int> heldWrites { 0 };

} // namespace

FilePreferences::FilePreferences(FilePreferences *parent, const QString &name)
    : Preferences(parent, name)
{
    qCDebug(lcFilePreferences).noquote() << QStringLiteral("Instantiating node ") + name;
    try {
        syncSpi();
    } catch (const BackingStoreError &e) {
        qCWarning(lcFilePreferences).noquote()
            << QStringLiteral("Unable to sync on creation of node ") + name << e.message();
    }
}

QString FilePreferences::getPath() const
{
    QString path;
    for (const Preferences *p = this; p->parent(); p = p->parent())
        path.prepend(p->name() + u'.');
    return path;
}

bool FilePreferences::belongsHere(const QString &fileKey, const QString &path) const
{
    return fileKey.startsWith(path) && !QStringView(fileKey).mid(path.size()).contains(u'.');
}

std::optional<QString> FilePreferences::getSpi(const QString &key)
{
    const auto it = root.constFind(key);
    if (it == root.cend())
        return std::nullopt;
    return *it;
}

void FilePreferences::putSpi(const QString &key, const QString &value)
{
    root.insert(key, value);
    changed.insert(key);
    if (heldWrites > 0)
        return;
    try {
        flush();
    } catch (const BackingStoreError &e) {
        qCWarning(lcFilePreferences).noquote()
            << QStringLiteral("Unable to flush after putting ") + key << e.message();
    }
}

void FilePreferences::removeSpi(const QString &key)
{
    root.remove(key);
    changed.insert(key);
    if (heldWrites > 0)
        return;
    try {
        flush();
    } catch (const BackingStoreError &e) {
        qCWarning(lcFilePreferences).noquote()
            << QStringLiteral("Unable to flush after removing ") + key << e.message();
    }
}

void FilePreferences::removeNodeSpi()
{
    isRemoved = true;
    flushSpi();
}

QStringList FilePreferences::keysSpi()
{
    return root.keys();
}

QStringList FilePreferences::childrenNamesSpi()
{
    QStringList names;
    for (auto it = children.cbegin(); it != children.cend(); ++it)
        if (!(*it)->isRemoved)
            names << it.key();
    return names;
}

Preferences *FilePreferences::childSpi(const QString &name)
{
    FilePreferences *child = children.value(name);
    if (child && !child->isRemoved)
        return child;
    child = static_cast<FilePreferences *>(adopt(std::make_unique<FilePreferences>(this, name)));
    children.insert(name, child);
    return child;
}

void FilePreferences::syncSpi()
{
    if (isRemoved)
        return;
    const QString file = FilePreferencesFactory::getPreferencesFile();
    QMutexLocker guard(&fileLock());
    const FileStorage::Lock shared(file, FileStorage::Lock::Mode::Shared);
    const std::optional<QByteArray> bytes = FileStorage::read(file);
    if (!bytes)
        return;
    const QString path = getPath();
    const QMap<QString, QString> entries = util::Properties::parse(*bytes);
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        if (!belongsHere(it.key(), path))
            continue;
        const QString key = it.key().mid(path.size());
        if (!changed.contains(key)) // a change not yet written stays
            root.insert(key, it.value());
    }
}

void FilePreferences::applyChanges(QMap<QString, QString> &entries) const
{
    const QString path = getPath();
    if (isRemoved) {
        for (auto it = entries.begin(); it != entries.end();) {
            if (belongsHere(it.key(), path))
                it = entries.erase(it);
            else
                ++it;
        }
        return;
    }
    // Only this tree's own changes: what another process wrote into the
    // node since it was read is not overwritten with a stale copy.
    for (const QString &key : std::as_const(changed)) {
        const auto value = root.constFind(key);
        if (value != root.cend())
            entries.insert(path + key, *value);
        else
            entries.remove(path + key);
    }
}

void FilePreferences::flushSpi()
{
    const QString file = FilePreferencesFactory::getPreferencesFile();
    QMutexLocker guard(&fileLock());
    const FileStorage::Lock exclusive(file, FileStorage::Lock::Mode::Exclusive);

    QMap<QString, QString> entries;
    if (const std::optional<QByteArray> bytes = FileStorage::read(file))
        entries = util::Properties::parse(*bytes);
    applyChanges(entries);
    const QString comment = FILE_COMMENT + u'\n' + QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    FileStorage::replace(file, util::Properties::serialize(entries, comment));
    if (exclusive.isHeld())
        FileStorage::removeLeftovers(file);
    changed.clear();
}

FilePreferences::HoldWrites::HoldWrites()
{
    ++heldWrites;
}

FilePreferences::HoldWrites::~HoldWrites()
{
    --heldWrites;
}

void FilePreferences::flushTree()
{
    const QString file = FilePreferencesFactory::getPreferencesFile();
    // Node locks before the file lock, parent before child, as every other
    // write takes them.
    std::vector<FilePreferences *> nodes { this };
    std::vector<std::unique_lock<QRecursiveMutex>> locks;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        locks.emplace_back(nodes[i]->lock());
        for (FilePreferences *child : std::as_const(nodes[i]->children))
            nodes.push_back(child);
    }
    QMutexLocker guard(&fileLock());
    const FileStorage::Lock exclusive(file, FileStorage::Lock::Mode::Exclusive);
    QMap<QString, QString> entries;
    if (const std::optional<QByteArray> bytes = FileStorage::read(file))
        entries = util::Properties::parse(*bytes);
    for (const FilePreferences *node : nodes)
        node->applyChanges(entries);
    const QString comment = FILE_COMMENT + u'\n' + QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    FileStorage::replace(file, util::Properties::serialize(entries, comment));
    if (exclusive.isHeld())
        FileStorage::removeLeftovers(file);
    for (FilePreferences *node : nodes)
        node->changed.clear();
}

} // namespace omvara::prefs
