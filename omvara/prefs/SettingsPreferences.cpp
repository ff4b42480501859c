// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/prefs/SettingsPreferences.h"

#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSettings>

namespace omvara::prefs {

namespace {

const QString EMPTY_NAME = QStringLiteral("%00");

QString statusText(QSettings::Status status)
{
    return status == QSettings::FormatError ? QStringLiteral("the file is not a settings file")
                                            : QStringLiteral("the file cannot be read or written");
}

} // namespace

SettingsPreferencesFactory::SettingsPreferencesFactory(const QString &iniFile)
    : iniFile(iniFile)
    , settings(open(iniFile))
{
}

std::unique_ptr<QSettings> SettingsPreferencesFactory::open(const QString &iniFile)
{
    auto settings = iniFile.isEmpty() ? std::make_unique<QSettings>(QSettings::NativeFormat,
                        QSettings::UserScope, QStringLiteral("Brindlecote"), QStringLiteral("Omvara"))
                                      : std::make_unique<QSettings>(iniFile, QSettings::IniFormat);
    settings->setFallbacksEnabled(false);
    return settings;
}

void SettingsPreferencesFactory::replaceDamagedFile()
{
    // The settings object refuses to write over a file it could not parse,
    // which would leave the user on the defaults for good. What it holds
    // (what could be read, and every change since) goes to a new file; the
    // damaged one is kept beside it for inspection.
    const QString path = settings->fileName();
    if (!QFileInfo(path).isFile())
        return;
    QList<std::pair<QString, QVariant>> entries;
    for (const QString &key : settings->allKeys())
        entries.append({ key, settings->value(key) });
    const QString aside = path + QStringLiteral(".damaged");
    QFile::remove(aside);
    if (!QFile::rename(path, aside))
        return; // the save then fails with the file's own error
    settings = open(iniFile);
    for (const auto &[key, value] : entries)
        settings->setValue(key, value);
    settings->sync();
}

SettingsPreferencesFactory::~SettingsPreferencesFactory() = default;

Preferences *SettingsPreferencesFactory::userRoot()
{
    QMutexLocker guard(&rootMutex);
    if (!root)
        root = std::make_unique<SettingsPreferences>(*this, nullptr, QString());
    return root.get();
}

Preferences *SettingsPreferencesFactory::systemRoot()
{
    return userRoot();
}

QString SettingsPreferencesFactory::fileName() const
{
    return settings->fileName();
}

SettingsPreferences::SettingsPreferences(
    SettingsPreferencesFactory &factory, SettingsPreferences *parent, const QString &name)
    : Preferences(parent, name)
    , factory(factory)
{
}

QString SettingsPreferences::encodeName(const QString &name)
{
    if (name.isEmpty())
        return EMPTY_NAME;
    QString out;
    out.reserve(name.size());
    for (const QChar c : name) {
        if (c == u'%')
            out += QStringLiteral("%25");
        else if (c == u'/')
            out += QStringLiteral("%2F");
        else if (c == u'\\')
            out += QStringLiteral("%5C");
        else
            out += c;
    }
    return out;
}

QString SettingsPreferences::decodeName(const QString &stored)
{
    if (stored == EMPTY_NAME)
        return QStringLiteral("");
    QString out;
    out.reserve(stored.size());
    for (qsizetype i = 0; i < stored.size(); ++i) {
        const QStringView code = QStringView(stored).mid(i, 3);
        if (code == u"%25") {
            out += u'%';
            i += 2;
        } else if (code.compare(u"%2F", Qt::CaseInsensitive) == 0) {
            out += u'/';
            i += 2;
        } else if (code.compare(u"%5C", Qt::CaseInsensitive) == 0) {
            out += u'\\';
            i += 2;
        } else {
            out += stored[i];
        }
    }
    return out;
}

QString SettingsPreferences::group() const
{
    QStringList names;
    for (const Preferences *p = this; p->parent(); p = p->parent())
        names.prepend(encodeName(p->name()));
    return names.join(u'/');
}

void SettingsPreferences::requireReadable() const
{
    const QSettings::Status status = factory.settings->status();
    if (status != QSettings::NoError)
        throw BackingStoreError(
            QStringLiteral("Cannot use %1: %2").arg(factory.settings->fileName(), statusText(status)));
}

std::optional<QString> SettingsPreferences::getSpi(const QString &key)
{
    QMutexLocker guard(&factory.settingsMutex);
    QSettings &s = *factory.settings;
    s.beginGroup(group());
    const QVariant value = s.value(encodeName(key));
    s.endGroup();
    if (!value.isValid())
        return std::nullopt;
    return value.toString();
}

void SettingsPreferences::putSpi(const QString &key, const QString &value)
{
    QMutexLocker guard(&factory.settingsMutex);
    QSettings &s = *factory.settings;
    s.beginGroup(group());
    s.setValue(encodeName(key), value);
    s.endGroup();
}

void SettingsPreferences::removeSpi(const QString &key)
{
    QMutexLocker guard(&factory.settingsMutex);
    QSettings &s = *factory.settings;
    s.beginGroup(group());
    s.remove(encodeName(key));
    s.endGroup();
}

void SettingsPreferences::removeNodeSpi()
{
    QMutexLocker guard(&factory.settingsMutex);
    QSettings &s = *factory.settings;
    s.beginGroup(group());
    for (const QString &k : s.childKeys())
        s.remove(k);
    s.endGroup();
}

QStringList SettingsPreferences::keysSpi()
{
    QMutexLocker guard(&factory.settingsMutex);
    requireReadable();
    QSettings &s = *factory.settings;
    s.beginGroup(group());
    QStringList keys;
    for (const QString &k : s.childKeys())
        keys << decodeName(k);
    s.endGroup();
    keys.sort();
    return keys;
}

QStringList SettingsPreferences::childrenNamesSpi()
{
    QMutexLocker guard(&factory.settingsMutex);
    requireReadable();
    QSettings &s = *factory.settings;
    s.beginGroup(group());
    QStringList names;
    for (const QString &g : s.childGroups())
        names << decodeName(g);
    s.endGroup();
    names.sort();
    return names;
}

Preferences *SettingsPreferences::childSpi(const QString &name)
{
    return adopt(std::make_unique<SettingsPreferences>(factory, this, name));
}

void SettingsPreferences::syncSpi()
{
    QMutexLocker guard(&factory.settingsMutex);
    factory.settings->sync();
    requireReadable();
}

void SettingsPreferences::flushSpi()
{
    QMutexLocker guard(&factory.settingsMutex);
    factory.settings->sync();
    if (factory.settings->status() == QSettings::FormatError)
        factory.replaceDamagedFile();
    requireReadable();
}

} // namespace omvara::prefs
