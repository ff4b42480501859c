// SPDX-License-Identifier: GPL-3.0-or-later
// A preferences node stored in the shared settings file.
#pragma once

#include "omvara/prefs/Preferences.h"

#include <QLoggingCategory>
#include <QMap>
#include <QSet>

namespace omvara::prefs {

Q_DECLARE_LOGGING_CATEGORY(lcFilePreferences)

// One node of the file-backed tree. The entry with key k of a node is kept in
// the file under getPath() + k; an entry belongs to a node when its key starts
// with the node's path and the rest holds no ".", so a key with a "." is
// written but never read back into its node (and never removed by it).
//
// Each put, remove and node removal rewrites the whole file (read, apply
// this node's changes, write) under one process-wide lock and an advisory
// lock shared with other processes; the file is replaced atomically, so a
// failed write leaves the previous file as it was. Only the keys this tree
// put or removed since its last successful write are applied: entries that
// another process wrote into the same node in the meantime are kept, and
// a change that could not be written is applied by the next write.
class FilePreferences : public Preferences
{
public:
    // Reads the node's entries from the file; a storage failure is logged
    // and the node still made.
    FilePreferences(FilePreferences *parent, const QString &name);

    // The names of all ancestors below the root and this node's own, each
    // followed by "." ("com.brindlecote.Omvara."; empty for the root).
    QString getPath() const;

    // The first comment line of the file.
    static const QString FILE_COMMENT; // "FilePreferences"

    // While one exists (in any thread), puts and removes are kept in memory
    // instead of being written at once.
    class HoldWrites
    {
    public:
        HoldWrites();
        ~HoldWrites();
        HoldWrites(const HoldWrites &) = delete;
        HoldWrites &operator=(const HoldWrites &) = delete;
    };
    // Writes the changes of this node and of all its descendants in one
    // replacement of the file. Fails with BackingStoreError.
    void flushTree();

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
    bool belongsHere(const QString &fileKey, const QString &path) const;
    // This node's changes applied to the file's `entries`.
    void applyChanges(QMap<QString, QString> &entries) const;

    QMap<QString, QString> root;
    QSet<QString> changed; // keys put or removed since the last successful write
    QMap<QString, FilePreferences *> children;
    bool isRemoved = false;
};

} // namespace omvara::prefs
