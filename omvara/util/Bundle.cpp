// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/util/Bundle.h"

#include "omvara/util/Properties.h"

#include <QFile>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>

namespace omvara::util {

namespace {

struct Cache
{
    QMutex mutex;
    // Bundles are never destroyed while the process runs: references handed
    // out by get() stay valid even after install() replaces an entry.
    QHash<QString, std::shared_ptr<const Bundle>> bundles;
    std::vector<std::shared_ptr<const Bundle>> retired;
};

Cache &cache()
{
    static Cache c;
    return c;
}

QString resourcePath(const QString &baseName, const QString &suffix)
{
    QString path = baseName;
    path.replace(u'.', u'/');
    return QStringLiteral(":/bundles/") + path + suffix + QStringLiteral(".properties");
}

} // namespace

MissingResourceError::MissingResourceError(const QString &bundle, const QString &key)
    : std::runtime_error(key.isEmpty()
            ? ("Can't find bundle for base name " + bundle).toStdString()
            : ("Can't find resource for bundle " + bundle + ", key " + key).toStdString())
    , m_bundle(bundle)
    , m_key(key)
{
}

Bundle::Bundle(QString baseName, QMap<QString, QString> texts)
    : m_baseName(std::move(baseName))
    , m_texts(std::move(texts))
{
}

const Bundle &Bundle::get(const QString &baseName)
{
    Cache &c = cache();
    QMutexLocker lock(&c.mutex);
    auto it = c.bundles.constFind(baseName);
    if (it != c.bundles.cend())
        return **it;

    // Locale-specific file first, then the base file.
    QFile file(resourcePath(baseName, QStringLiteral("_en")));
    if (!file.exists())
        file.setFileName(resourcePath(baseName, QString()));
    if (!file.open(QIODevice::ReadOnly))
        throw MissingResourceError(baseName, QString());
    auto bundle = std::make_shared<const Bundle>(baseName, Properties::parse(file.readAll()));
    c.bundles.insert(baseName, bundle);
    return *bundle;
}

void Bundle::install(const QString &baseName, const QMap<QString, QString> *texts)
{
    Cache &c = cache();
    QMutexLocker lock(&c.mutex);
    auto it = c.bundles.find(baseName);
    if (it != c.bundles.end()) {
        c.retired.push_back(*it);
        c.bundles.erase(it);
    }
    if (texts)
        c.bundles.insert(baseName, std::make_shared<const Bundle>(baseName, *texts));
}

QString Bundle::getString(const QString &key) const
{
    auto it = m_texts.constFind(key);
    if (it == m_texts.cend())
        throw MissingResourceError(m_baseName, key);
    return *it;
}

QStringList Bundle::missingKeys(const QStringList &required) const
{
    QStringList missing;
    for (const QString &key : required)
        if (!m_texts.contains(key))
            missing << key;
    return missing;
}

} // namespace omvara::util
