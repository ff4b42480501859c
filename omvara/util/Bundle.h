// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>
#include <stdexcept>

namespace omvara::util {

// A missing resource bundle or key. The resource files are part of the
// installation, so this means a damaged installation; start-up checks every
// key the program uses before anything else.
class MissingResourceError : public std::runtime_error
{
public:
    MissingResourceError(const QString &bundle, const QString &key);
    const QString &bundleName() const { return m_bundle; }
    const QString &key() const { return m_key; }

private:
    QString m_bundle;
    QString m_key;
};

// A resource bundle of texts, looked up by key. Bundles are named with dotted
// base names ("omvara.Omvara", "omvara.config.ConfigBundle",
// "omvara.worker.WorkerBundle") and live as properties files in the Qt
// resource tree at ":/bundles/<base name with / for .>.properties".
// Bundles are loaded once and are immutable; safe to read from any thread.
class Bundle
{
public:
    // The bundle for the process's locale (English is the only one shipped).
    // Throws MissingResourceError (with an empty key) when the bundle itself is missing.
    static const Bundle &get(const QString &baseName);

    // Replaces a bundle's texts for this process (tests use it to simulate a
    // damaged installation); nullptr restores the shipped bundle.
    static void install(const QString &baseName, const QMap<QString, QString> *texts);

    const QString &baseName() const { return m_baseName; }
    // Throws MissingResourceError when the key is absent.
    QString getString(const QString &key) const;
    bool contains(const QString &key) const { return m_texts.contains(key); }
    QStringList keys() const { return m_texts.keys(); }

    // The keys of `required` that this bundle lacks.
    QStringList missingKeys(const QStringList &required) const;

    Bundle(QString baseName, QMap<QString, QString> texts);

private:
    QString m_baseName;
    QMap<QString, QString> m_texts;
};

} // namespace omvara::util
