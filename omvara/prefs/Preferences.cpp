// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/prefs/Preferences.h"

#include "omvara/prefs/FilePreferencesFactory.h"
#include "omvara/prefs/PreferencesXml.h"
#include "omvara/prefs/SettingsPreferences.h"
#include "omvara/util/ProcessProperties.h"

#include <QMutex>
#include <QMutexLocker>

namespace omvara::prefs {

const QString Preferences::FACTORY_PROPERTY = QStringLiteral("omvara.prefs.PreferencesFactory");

namespace {

struct ProcessTree
{
    QMutex mutex;
    std::unique_ptr<PreferencesFactory> factory;
};

ProcessTree &processTree()
{
    static ProcessTree tree;
    return tree;
}

// Digits with an optional sign, nothing else: " 7" or "7.0" are not integers.
std::optional<int> parseInt(const QString &text)
{
    if (text.isEmpty())
        return std::nullopt;
    qsizetype i = (text[0] == u'-' || text[0] == u'+') ? 1 : 0;
    if (i == text.size())
        return std::nullopt;
    for (qsizetype k = i; k < text.size(); ++k)
        if (text[k] < u'0' || text[k] > u'9')
            return std::nullopt;
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

} // namespace

Preferences::Preferences(Preferences *parent, const QString &name)
    : parentNode(parent)
    , nodeName(name)
{
}

Preferences::~Preferences() = default;

PreferencesFactory &Preferences::factory()
{
    ProcessTree &tree = processTree();
    QMutexLocker guard(&tree.mutex);
    if (!tree.factory) {
        const QString name = util::ProcessProperties::get(FACTORY_PROPERTY);
        if (name.isEmpty())
            tree.factory = std::make_unique<SettingsPreferencesFactory>();
        else if (name == FilePreferencesFactory::CLASS_NAME)
            tree.factory = std::make_unique<FilePreferencesFactory>();
        else
            throw BackingStoreError(QStringLiteral("Unknown preferences factory: %1").arg(name));
    }
    return *tree.factory;
}

void Preferences::setFactory(std::unique_ptr<PreferencesFactory> factory)
{
    ProcessTree &tree = processTree();
    QMutexLocker guard(&tree.mutex);
    tree.factory = std::move(factory);
}

Preferences *Preferences::userRoot()
{
    return factory().userRoot();
}

Preferences *Preferences::systemRoot()
{
    return factory().systemRoot();
}

QString Preferences::absolutePath() const
{
    if (!parentNode)
        return QStringLiteral("/");
    const QString above = parentNode->absolutePath();
    return above == u"/" ? above + nodeName : above + u'/' + nodeName;
}

bool Preferences::isNodeRemoved() const
{
    QMutexLocker guard(&nodeLock);
    return removed;
}

void Preferences::requireNotRemoved() const
{
    if (removed)
        throw PreferencesRefusedError(QStringLiteral("Node has been removed."));
}

void Preferences::checkKey(const QString &key)
{
    if (key.size() > MAX_KEY_LENGTH)
        throw PreferencesRefusedError(QStringLiteral("Key too long: %1").arg(key));
    if (key.contains(QChar(0)))
        throw PreferencesRefusedError(QStringLiteral("Key contains code point U+0000"));
}

void Preferences::checkValue(const QString &value)
{
    if (value.size() > MAX_VALUE_LENGTH)
        throw PreferencesRefusedError(
            QStringLiteral("Value too long: %1").arg(value.left(40) + QStringLiteral("...")));
    if (value.contains(QChar(0)))
        throw PreferencesRefusedError(QStringLiteral("Value contains code point U+0000"));
}

void Preferences::checkName(const QString &name)
{
    if (name.isEmpty())
        throw PreferencesRefusedError(QStringLiteral("Empty node name in path"));
    if (name.contains(u'/'))
        throw PreferencesRefusedError(QStringLiteral("Node name %1 contains '/'").arg(name));
    if (name.size() > MAX_NAME_LENGTH)
        throw PreferencesRefusedError(QStringLiteral("Node name %1 too long").arg(name));
    if (name.contains(QChar(0)))
        throw PreferencesRefusedError(QStringLiteral("Node name contains code point U+0000"));
}

Preferences *Preferences::node(const QString &path)
{
    if (path.isEmpty())
        return this;
    if (path == u"/") {
        Preferences *root = this;
        while (root->parentNode)
            root = root->parentNode;
        return root;
    }
    if (path.endsWith(u'/'))
        throw PreferencesRefusedError(QStringLiteral("Path ends with slash: %1").arg(path));
    if (path.startsWith(u'/'))
        return node(QStringLiteral("/"))->node(path.mid(1));
    const QStringList names = path.split(u'/');
    for (const QString &n : names)
        checkName(n);
    return nodeAt(names, 0);
}

Preferences *Preferences::nodeAt(const QStringList &names, qsizetype from)
{
    if (from == names.size())
        return this;
    QMutexLocker guard(&nodeLock);
    requireNotRemoved();
    const QString &name = names[from];
    Preferences *child = kidCache.value(name);
    if (!child) {
        child = childSpi(name);
        kidCache.insert(name, child);
    }
    return child->nodeAt(names, from + 1);
}

Preferences *Preferences::adopt(std::unique_ptr<Preferences> child)
{
    Preferences *raw = child.get();
    owned.push_back(std::move(child));
    return raw;
}

QString Preferences::get(const QString &key, const QString &def)
{
    QMutexLocker guard(&nodeLock);
    requireNotRemoved();
    return getSpi(key).value_or(def);
}

int Preferences::getInt(const QString &key, int def)
{
    const std::optional<QString> text = [&] {
        QMutexLocker guard(&nodeLock);
        requireNotRemoved();
        return getSpi(key);
    }();
    if (!text)
        return def;
    return parseInt(*text).value_or(def);
}

bool Preferences::getBoolean(const QString &key, bool def)
{
    const QString text = get(key, QString());
    if (text.compare(u"true", Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(u"false", Qt::CaseInsensitive) == 0)
        return false;
    return def;
}

void Preferences::put(const QString &key, const QString &value)
{
    checkKey(key);
    checkValue(value);
    QMutexLocker guard(&nodeLock);
    requireNotRemoved();
    putSpi(key, value);
}

void Preferences::putInt(const QString &key, int value)
{
    put(key, QString::number(value));
}

void Preferences::putBoolean(const QString &key, bool value)
{
    put(key, value ? QStringLiteral("true") : QStringLiteral("false"));
}

void Preferences::remove(const QString &key)
{
    QMutexLocker guard(&nodeLock);
    requireNotRemoved();
    removeSpi(key);
}

QStringList Preferences::keys()
{
    QMutexLocker guard(&nodeLock);
    requireNotRemoved();
    return keysSpi();
}

QStringList Preferences::childrenNames()
{
    QMutexLocker guard(&nodeLock);
    requireNotRemoved();
    QStringList names = kidCache.keys();
    for (const QString &n : childrenNamesSpi())
        if (!kidCache.contains(n))
            names << n;
    names.sort();
    return names;
}

void Preferences::removeNode()
{
    if (!parentNode)
        throw PreferencesRefusedError(QStringLiteral("Can't remove the root!"));
    QMutexLocker parentGuard(&parentNode->nodeLock);
    QMutexLocker guard(&nodeLock);
    requireNotRemoved();
    removeSubtree();
    parentNode->kidCache.remove(nodeName);
}

void Preferences::removeSubtree()
{
    for (const QString &n : childrenNamesSpi())
        if (!kidCache.contains(n))
            kidCache.insert(n, childSpi(n));
    for (Preferences *kid : std::as_const(kidCache)) {
        QMutexLocker guard(&kid->nodeLock);
        kid->removeSubtree();
    }
    kidCache.clear();
    removeNodeSpi();
    removed = true;
}

QList<Preferences *> Preferences::cachedChildren() const
{
    return kidCache.values();
}

void Preferences::flush()
{
    QList<Preferences *> kids;
    {
        QMutexLocker guard(&nodeLock);
        flushSpi();
        if (removed)
            return;
        kids = cachedChildren();
    }
    for (Preferences *kid : kids)
        kid->flush();
}

void Preferences::sync()
{
    QList<Preferences *> kids;
    {
        QMutexLocker guard(&nodeLock);
        requireNotRemoved();
        syncSpi();
        kids = cachedChildren();
    }
    for (Preferences *kid : kids)
        if (!kid->isNodeRemoved())
            kid->sync();
}

void Preferences::exportNode(
    QIODevice &out, const std::function<bool(const QString &key)> &carried, const QStringList &children)
{
    const auto entriesOf = [&carried](Preferences &node) {
        QList<QPair<QString, QString>> entries;
        QMutexLocker guard(&node.nodeLock);
        node.requireNotRemoved();
        for (const QString &k : node.keysSpi())
            if (!carried || carried(k))
                if (const auto v = node.getSpi(k))
                    entries.append({ k, *v });
        return entries;
    };
    const QList<QPair<QString, QString>> entries = entriesOf(*this);
    QList<PreferencesXml::Node> childNodes;
    for (const QString &name : children)
        childNodes.append({ name, entriesOf(*node(name)), {} });
    QStringList path;
    for (const Preferences *p = this; p->parentNode; p = p->parentNode)
        path.prepend(p->nodeName);
    PreferencesXml::write(out, path, entries, childNodes);
}

void Preferences::importPreferences(const QByteArray &document)
{
    const PreferencesXml::Document parsed = PreferencesXml::parse(document);
    PreferencesXml::apply(parsed, *userRoot(), *systemRoot());
}

} // namespace omvara::prefs
