// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/prefs/PreferencesErrors.h"

#include <QMap>
#include <QRecursiveMutex>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QIODevice;

namespace omvara::prefs {

class PreferencesFactory;

// One node of the hierarchical preferences tree: named text keys with text
// values, and named child nodes. Nodes are addressed by path, absolute
// ("/com/brindlecote/Omvara", from the root) or relative to a node.
//
// This class supplies the public operations, the per-node lock and the cache
// of child nodes; a backend derives from it and implements the protected
// storage operations (the "...Spi" members), which are always called with the
// node's own lock held. Locks are taken parent before child, never the
// other way round.
//
// Ownership: a node owns its children, including removed ones, so every
// pointer handed out stays valid as long as the root (which its factory owns).
// Operations on a removed node (other than flush, name and path) fail with
// PreferencesRefusedError("Node has been removed.").
//
// Every operation may be called from any thread.
class Preferences
{
public:
    static constexpr int MAX_KEY_LENGTH = 80;
    static constexpr int MAX_VALUE_LENGTH = 8192;
    static constexpr int MAX_NAME_LENGTH = 80;

    // The process property that selects the factory of the process's tree:
    // unset or empty for the per-user store, FilePreferencesFactory::CLASS_NAME
    // for the file-backed store.
    static const QString FACTORY_PROPERTY;

    virtual ~Preferences();
    Preferences(const Preferences &) = delete;
    Preferences &operator=(const Preferences &) = delete;

    // The tree of this process. The factory is chosen at the first call from
    // FACTORY_PROPERTY and kept for the rest of the process; an unknown
    // factory name fails with BackingStoreError.
    static Preferences *userRoot();
    static Preferences *systemRoot();
    static PreferencesFactory &factory();
    // Installs the factory of the process explicitly (tests); an empty
    // pointer lets the next call choose again from FACTORY_PROPERTY.
    static void setFactory(std::unique_ptr<PreferencesFactory> factory);

    QString name() const { return nodeName; }
    QString absolutePath() const;
    Preferences *parent() const { return parentNode; }
    bool isNodeRemoved() const;

    // The node at `path`, created (in memory) when missing. Refuses empty
    // names ("a//b"), a trailing "/" and names longer than MAX_NAME_LENGTH.
    Preferences *node(const QString &path);

    // get* return `def` when the key is absent or (getInt, getBoolean) its
    // text is not an integer / not "true" or "false" in any case.
    QString get(const QString &key, const QString &def);
    int getInt(const QString &key, int def);
    bool getBoolean(const QString &key, bool def);

    // put* refuse keys longer than MAX_KEY_LENGTH, values longer than
    // MAX_VALUE_LENGTH and keys or values with the character U+0000.
    void put(const QString &key, const QString &value);
    void putInt(const QString &key, int value);
    void putBoolean(const QString &key, bool value);
    void remove(const QString &key);

    // Fails with BackingStoreError when the backend cannot be read.
    QStringList keys();
    QStringList childrenNames();

    // Removes this node and every descendant the backend knows. The root
    // cannot be removed.
    void removeNode();

    // Writes this node and its cached descendants to the backend; reading
    // them back from the backend. Both fail with BackingStoreError.
    void flush();
    void sync();

    // Writes this node's own keys (no child nodes) as a preferences export
    // document; with `carried`, only the keys it returns true for. Fails
    // with BackingStoreError when `out` cannot be written.
    // With `children`, those child nodes' own keys are written too, each
    // inside its node.
    void exportNode(QIODevice &out, const std::function<bool(const QString &key)> &carried = nullptr,
        const QStringList &children = {});

    // Reads a whole export document and writes its entries into the nodes it
    // names, in the process's tree. The document is checked completely
    // before anything is written: InvalidPreferencesFormatError leaves the
    // tree unchanged.
    static void importPreferences(const QByteArray &document);

    // Checks used by put and by the import (throw PreferencesRefusedError).
    static void checkKey(const QString &key);
    static void checkValue(const QString &value);
    static void checkName(const QString &name);

protected:
    // `parent` is null for a root, whose name is empty.
    Preferences(Preferences *parent, const QString &name);

    virtual std::optional<QString> getSpi(const QString &key) = 0;
    virtual void putSpi(const QString &key, const QString &value) = 0;
    virtual void removeSpi(const QString &key) = 0;
    virtual void removeNodeSpi() = 0;
    virtual QStringList keysSpi() = 0;
    virtual QStringList childrenNamesSpi() = 0;
    // The child `name`, never null. A new child must be handed to adopt().
    virtual Preferences *childSpi(const QString &name) = 0;
    virtual void syncSpi() = 0;
    virtual void flushSpi() = 0;

    // Takes ownership of a newly made child and returns it.
    Preferences *adopt(std::unique_ptr<Preferences> child);

    QRecursiveMutex &lock() const { return nodeLock; }

private:
    Preferences *nodeAt(const QStringList &names, qsizetype from);
    void removeSubtree();
    QList<Preferences *> cachedChildren() const;
    void requireNotRemoved() const;

    Preferences *const parentNode;
    const QString nodeName;
    mutable QRecursiveMutex nodeLock;
    bool removed = false;
    QMap<QString, Preferences *> kidCache;
    std::vector<std::unique_ptr<Preferences>> owned;
};

// Creates the roots of one tree. The factory owns the roots.
class PreferencesFactory
{
public:
    virtual ~PreferencesFactory() = default;
    virtual Preferences *userRoot() = 0;
    virtual Preferences *systemRoot() = 0;
    // Runs `changes` (puts and removes in this tree) so that the backend
    // gets them in one step. A backend that writes each change at once (the
    // file-backed store) holds them back meanwhile, then replaces its file
    // once, so that it never holds a part of them, and returns true. Others
    // only run them and return false: a flush then writes them. Fails with
    // BackingStoreError when the write fails; the changes then stay in
    // memory, to be written by a later flush.
    virtual bool writeTogether(const std::function<void()> &changes)
    {
        changes();
        return false;
    }
};

} // namespace omvara::prefs
