// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/ConfigStore.h"

#include "omvara/config/Config.h"
#include "omvara/config/ConfigHelper.h"
#include "omvara/config/Instrument.h"
#include "omvara/config/OutputSettings.h"
#include "omvara/config/RequestSettings.h"
#include "omvara/prefs/FilePreferencesFactory.h"
#include "omvara/prefs/PreferencesXml.h"
#include "omvara/util/ProcessProperties.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>

namespace omvara::config {

namespace {

Q_LOGGING_CATEGORY(lcConfigStore, "omvara.config.ConfigStore")

using H = ConfigHelper;
using prefs::Preferences;

// The settings a load replaced by their defaults. `invalid = true` says that
// one was replaced without naming it.
class Replacements
{
public:
    explicit Replacements(QList<ConfigStore::ReplacedSetting> &list)
        : m_list(list)
    {
    }
    void noteReplaced(const QString &key, const QString &stored, const QString &replacement,
        const QString &reason = QString())
    {
        m_list.append({ key, stored, replacement, reason });
        m_any = true;
    }
    Replacements &operator=(bool invalid)
    {
        m_any = m_any || invalid;
        return *this;
    }
    bool any() const { return m_any; }

private:
    QList<ConfigStore::ReplacedSetting> &m_list;
    bool m_any = false;
};

// A setting stored by constant name: the stored constant, or the default.
template <typename Set> const Set &loadConstant(Preferences &node, const QString &key, Replacements &invalid)
{
    const QString name = node.get(key, Set::getDefault().name());
    if (Set::valid(name))
        return Set::valueOf(name);
    invalid.noteReplaced(key, name, Set::getDefault().name());
    return Set::getDefault();
}

// A setting stored by ordinal.
template <typename Set> int loadOrdinal(Preferences &node, const QString &key, Replacements &invalid)
{
    const int value = node.getInt(key, Set::getDefaultIndex());
    if (Set::valid(value))
        return value;
    invalid.noteReplaced(key, node.get(key, QString()), Set::getValue(Set::getDefaultIndex()));
    return Set::getDefaultIndex();
}

// A free-text setting.
template <typename Text> QString loadText(Preferences &node, const QString &key, Replacements &invalid)
{
    const QString value = node.get(key, Text::getDefault());
    if (Text::valid(value))
        return value;
    invalid.noteReplaced(key, value, Text::getDefault());
    return Text::getDefault();
}

// An integer setting with a range; a stored text that is no integer is invalid too.
template <typename Number> int loadInteger(Preferences &node, const QString &key, Replacements &invalid)
{
    const QString stored = node.get(key, QString::number(Number::getDefault()));
    bool ok = false;
    const qint64 value = stored.trimmed().toLongLong(&ok);
    if (ok && Number::valid(value))
        return int(value);
    invalid.noteReplaced(key, stored, QString::number(Number::getDefault()));
    return Number::getDefault();
}

} // namespace

const QString ConfigStore::NODE_PATH = QStringLiteral("/com/brindlecote/Omvara");
const QString ConfigStore::SHARED_FILE = QStringLiteral("/Brindlecote/OmvaraMU/prefs.txt");
const QString ConfigStore::SHARED_FOLDER_VARIABLE = QStringLiteral("ProgramData");
const QString ConfigStore::DEFAULT_SHARED_FOLDER = QStringLiteral("/var/lib");
const QString ConfigStore::SHARED_SWITCH = QStringLiteral("OMVARA_SHARED_PREFS");
const QString ConfigStore::SHARED_MARKER = QStringLiteral("omvara-shared-prefs");

ConfigStore::ConfigStore(const QString &installationFolder)
    : installationFolder(installationFolder)
{
}

ConfigStore::ConfigStore(prefs::PreferencesFactory &factory)
    : factory(&factory)
{
}

bool ConfigStore::isSharedInstallation(const QString &installationFolder)
{
    if (util::ProcessProperties::contains(SHARED_SWITCH)) {
        const QString value = util::ProcessProperties::get(SHARED_SWITCH).trimmed().toLower();
        return !(value.isEmpty() || value == u"0" || value == u"false" || value == u"no");
    }
    return !installationFolder.isEmpty()
        && QFileInfo::exists(QDir(installationFolder).filePath(SHARED_MARKER));
}

QString ConfigStore::sharedPreferencesFile()
{
    QString folder = util::ProcessProperties::get(SHARED_FOLDER_VARIABLE);
    if (folder.isEmpty())
        folder = DEFAULT_SHARED_FOLDER;
    return folder + SHARED_FILE;
}

void ConfigStore::useFileStore(const QString &path)
{
    util::ProcessProperties::set(Preferences::FACTORY_PROPERTY, prefs::FilePreferencesFactory::CLASS_NAME);
    util::ProcessProperties::set(prefs::FilePreferencesFactory::SYSTEM_PROPERTY_FILE, path);
}

Preferences &ConfigStore::node()
{
    if (!settings) {
        if (factory) {
            settings = factory->userRoot()->node(NODE_PATH);
        } else {
            if (!util::ProcessProperties::contains(Preferences::FACTORY_PROPERTY)
                && isSharedInstallation(installationFolder))
                useFileStore(sharedPreferencesFile());
            settings = Preferences::userRoot()->node(NODE_PATH);
        }
    }
    return *settings;
}

QString ConfigStore::describe(const QList<ReplacedSetting> &replaced)
{
    QStringList lines;
    for (const ReplacedSetting &r : replaced)
        lines.append(
            QStringLiteral("%1: \"%2\" \u2192 %3")
                .arg(r.key, r.stored, r.replacement.isEmpty() ? QStringLiteral("\"\"") : r.replacement)
            + (r.reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(r.reason)));
    return lines.join(QLatin1Char('\n'));
}

bool ConfigStore::loadConfig(Config &config, const QStringList &portNames)
{
    Preferences &n = node();
    m_replaced.clear();
    m_notes.clear();
    Replacements invalid(m_replaced);

    if (!portNames.isEmpty()) {
        config.setPort(n.get(QStringLiteral("port"), portNames.first()));
    } else {
        // Network addresses and stable USB names are never in the list of
        // local ports; without a list they are kept all the same, so that
        // the next save does not write an empty port.
        const QString stored = n.get(QStringLiteral("port"), QString());
        if (stored.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive)
            || stored.startsWith(QLatin1String("rfc2217://"), Qt::CaseInsensitive)
            || stored.startsWith(QLatin1String("/dev/serial/by-")))
            config.setPort(stored);
    }
    config.setPrevPort(n.get(QStringLiteral("prevPort"), config.getPort()));

    const QString instrument = n.get(QStringLiteral("instrument"), H::Instrument::getDefault().name());
    if (H::Instrument::valid(instrument)) {
        config.setInstrument(H::Instrument::valueOf(instrument));
    } else {
        invalid.noteReplaced(QStringLiteral("instrument"), instrument, H::Instrument::getDefault().name());
        config.setInstrument(H::Instrument::getDefault());
    }

    config.setBitRate(loadOrdinal<H::BitRates>(n, QStringLiteral("bitRate"), invalid));
    config.setDataBits(loadOrdinal<H::DataBits>(n, QStringLiteral("dataBits"), invalid));
    config.setStopBits(loadOrdinal<H::StopBits>(n, QStringLiteral("stopBits"), invalid));
    config.setParity(loadOrdinal<H::Parity>(n, QStringLiteral("parity"), invalid));

    config.setDecimalSeparator(
        loadConstant<H::DecimalSeparator>(n, QStringLiteral("decimalSeparator"), invalid));
    const int terminator = n.getInt(QStringLiteral("inputTerminator"), H::InputTerminator::getDefault());
    if (H::InputTerminator::valid(terminator)) {
        config.setInputTerminator(terminator);
    } else {
        invalid.noteReplaced(QStringLiteral("inputTerminator"),
            n.get(QStringLiteral("inputTerminator"), QString()),
            QString::number(H::InputTerminator::getDefault()));
        config.setInputTerminator(H::InputTerminator::getDefault());
    }
    config.setStartWith(loadConstant<H::StartWith>(n, QStringLiteral("startWith"), invalid));
    config.setOutputTerminator(
        loadConstant<H::OutputTerminator>(n, QStringLiteral("outputTerminator"), invalid));
    config.setConnect(loadConstant<H::Connect>(n, QStringLiteral("connect"), invalid));
    config.setMathOperand(loadText<H::MathOperand>(n, QStringLiteral("mathOperand"), invalid));
    config.setMathOperation(loadConstant<H::MathOperation>(n, QStringLiteral("mathOperation"), invalid));
    config.setDecimalPlaces(loadText<H::DecimalPlaces>(n, QStringLiteral("decimalPlaces"), invalid));
    config.setRoundingMethod(loadConstant<H::RoundingMethod>(n, QStringLiteral("roundingMethod"), invalid));
    config.setSound(loadConstant<H::Sound>(n, QStringLiteral("sound"), invalid));
    config.setKeyboardType(loadConstant<H::KeyboardType>(n, QStringLiteral("keyboardType"), invalid));
    config.setDelay(loadText<H::Delay>(n, QStringLiteral("delay"), invalid));

    config.minimizeToTray = n.getBoolean(QStringLiteral("minimizeToTray"), false);
    config.notifyWhenMinimizedToTray = n.getBoolean(QStringLiteral("notifyWhenMinimizedToTray"), false);
    config.checkForUpdates = n.getBoolean(QStringLiteral("checkForUpdates"), true);
    config.abortAutoStartWhenPrevPortNotAvailable
        = n.getBoolean(QStringLiteral("abortAutoStartWhenPrevPortNotAvailable"), false);
    config.ignoreDuplicates = n.getBoolean(QStringLiteral("ignoreDuplicates"), false);

    // Ports beyond one cable.
    config.reconnect = n.getBoolean(QStringLiteral("reconnect"), false);
    config.portDevice = n.get(QStringLiteral("portDevice"), QString());
    config.recentPorts.clear();
    const QStringList recent
        = n.get(QStringLiteral("recentPorts"), QString()).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (auto it = recent.crbegin(); it != recent.crend(); ++it)
        config.rememberPort(it->trimmed());

    config.setEditOperation(loadConstant<H::EditOperation>(n, QStringLiteral("editOperation"), invalid));
    config.setEditPosition(loadConstant<H::EditPosition>(n, QStringLiteral("editPosition"), invalid));
    config.setEditNumCharacters(
        loadText<H::EditNumCharacters>(n, QStringLiteral("editNumCharacters"), invalid));
    config.setRemoveCharacters(loadText<H::RemoveCharacters>(n, QStringLiteral("removeCharacters"), invalid));
    config.setIgnoreTimeLimit(loadText<H::IgnoreTimeLimit>(n, QStringLiteral("ignoreTimeLimit"), invalid));
    config.setIgnoreDifference(loadText<H::IgnoreDifference>(n, QStringLiteral("ignoreDifference"), invalid));
    {
        // A refused pattern is replaced as any invalid text is, with the
        // construct and the reason; a valid one that may not mean what its
        // author expects is kept and noted.
        const QString pattern = n.get(QStringLiteral("customRegEx"), H::CustomRegEx::getDefault());
        const QString problem = H::CustomRegEx::problem(pattern);
        if (problem.isEmpty()) {
            config.setCustomRegEx(pattern);
            if (const QString note = H::CustomRegEx::note(pattern); !note.isEmpty())
                m_notes.append(QStringLiteral("customRegEx: ") + note);
        } else {
            invalid.noteReplaced(
                QStringLiteral("customRegEx"), pattern, H::CustomRegEx::getDefault(), problem);
            config.setCustomRegEx(H::CustomRegEx::getDefault());
        }
    }

    // Record file and broker.
    config.setRecordFile(loadText<RecordFile>(n, QStringLiteral("recordFile"), invalid));
    config.setMqttUrl(loadText<MqttUrl>(n, QStringLiteral("mqttUrl"), invalid));
    config.setMqttCaFile(loadText<MqttCaFile>(n, QStringLiteral("mqttCaFile"), invalid));
    // Readings on request, and settled readings.
    config.requestCommand = loadText<RequestCommand>(n, QStringLiteral("requestCommand"), invalid);
    config.requestInterval = loadInteger<RequestInterval>(n, QStringLiteral("requestInterval"), invalid);
    config.requestHotkey = loadText<RequestHotkey>(n, QStringLiteral("requestHotkey"), invalid);
    config.stableReadings = loadInteger<StableReadings>(n, QStringLiteral("stableReadings"), invalid);

    // A backend that cannot be read fails here at the latest.
    (void)n.keys();
    return !invalid.any();
}

void ConfigStore::saveConfig(const Config &config)
{
    Preferences &n = node();
    try {
        if (!config.getPort().isNull()) {
            n.put(QStringLiteral("port"), config.getPort());
            n.put(QStringLiteral("prevPort"), config.getPort());
        }
        const H::Instrument *instrument = config.getInstrument();
        n.put(QStringLiteral("instrument"), (instrument ? *instrument : H::Instrument::getDefault()).name());
        n.putInt(QStringLiteral("bitRate"), config.getBitRate());
        n.putInt(QStringLiteral("dataBits"), config.getDataBits());
        n.putInt(QStringLiteral("stopBits"), config.getStopBits());
        n.putInt(QStringLiteral("parity"), config.getParity());
        n.putInt(QStringLiteral("inputTerminator"), config.getInputTerminator());
        n.put(QStringLiteral("decimalSeparator"), config.getDecimalSeparator().name());
        n.put(QStringLiteral("sound"), config.getSound().name());
        n.put(QStringLiteral("startWith"), config.getStartWith().name());
        n.put(QStringLiteral("outputTerminator"), config.getOutputTerminator().name());
        n.put(QStringLiteral("connect"), config.getConnect().name());
        n.put(QStringLiteral("mathOperation"), config.getMathOperation().name());
        n.put(QStringLiteral("mathOperand"), config.getMathOperand());
        n.put(QStringLiteral("decimalPlaces"), config.getDecimalPlaces());
        n.put(QStringLiteral("roundingMethod"), config.getRoundingMethod().name());
        n.put(QStringLiteral("keyboardType"), config.getKeyboardType().name());
        n.put(QStringLiteral("delay"), config.getDelay());
        n.putBoolean(QStringLiteral("minimizeToTray"), config.minimizeToTray);
        n.putBoolean(QStringLiteral("notifyWhenMinimizedToTray"), config.notifyWhenMinimizedToTray);
        n.putBoolean(QStringLiteral("checkForUpdates"), config.checkForUpdates);
        n.putBoolean(QStringLiteral("abortAutoStartWhenPrevPortNotAvailable"),
            config.abortAutoStartWhenPrevPortNotAvailable);
        n.putBoolean(QStringLiteral("ignoreDuplicates"), config.ignoreDuplicates);
        n.putBoolean(QStringLiteral("reconnect"), config.reconnect);
        n.put(QStringLiteral("portDevice"), config.portDevice);
        n.put(QStringLiteral("recentPorts"), config.recentPorts.join(QLatin1Char(';')));
        n.put(QStringLiteral("editOperation"), config.getEditOperation().name());
        n.put(QStringLiteral("editPosition"), config.getEditPosition().name());
        n.put(QStringLiteral("editNumCharacters"), config.getEditNumCharacters());
        n.put(QStringLiteral("removeCharacters"), config.getRemoveCharacters());
        n.put(QStringLiteral("customRegEx"), config.getCustomRegEx());
        n.put(QStringLiteral("ignoreTimeLimit"), config.getIgnoreTimeLimit());
        n.put(QStringLiteral("ignoreDifference"), config.getIgnoreDifference());

        // Record file and broker (the broker's password is never stored).
        n.put(QStringLiteral("recordFile"), config.getRecordFile());
        n.put(QStringLiteral("mqttUrl"), config.getMqttUrl());
        n.put(QStringLiteral("mqttCaFile"), config.getMqttCaFile());
        // Readings on request, and settled readings.
        n.put(QStringLiteral("requestCommand"), config.requestCommand);
        n.putInt(QStringLiteral("requestInterval"), config.requestInterval);
        n.put(QStringLiteral("requestHotkey"), config.requestHotkey);
        n.putInt(QStringLiteral("stableReadings"), config.stableReadings);
    } catch (const prefs::PreferencesRefusedError &e) {
        qCWarning(lcConfigStore).noquote() << QStringLiteral("saveConfig exception: ") + e.message();
    }
    n.flush();
}

void ConfigStore::exportTo(const QString &file)
{
    Preferences &n = node();
    // A node whose store could not be read holds nothing; exported, it would
    // be a valid document that wipes the settings of every installation it
    // is imported into. Reading the store again fails loudly instead.
    n.sync();
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        throw prefs::BackingStoreError(QStringLiteral("Cannot write %1: %2").arg(file, out.errorString()));
    n.exportNode(out);
    if (!out.commit())
        throw prefs::BackingStoreError(QStringLiteral("Cannot write %1: %2").arg(file, out.errorString()));
}

void ConfigStore::importFrom(const QString &file)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        throw prefs::BackingStoreError(QStringLiteral("Cannot read %1: %2").arg(file, in.errorString()));
    if (in.size() > prefs::PreferencesXml::MAX_DOCUMENT_SIZE)
        throw prefs::InvalidPreferencesFormatError(
            QStringLiteral("%1 is larger than %2 MiB, too large for a settings file")
                .arg(file)
                .arg(prefs::PreferencesXml::MAX_DOCUMENT_SIZE / (1024 * 1024)));
    const QByteArray document = in.read(prefs::PreferencesXml::MAX_DOCUMENT_SIZE + 1);
    if (in.error() != QFileDevice::NoError)
        throw prefs::BackingStoreError(QStringLiteral("Cannot read %1: %2").arg(file, in.errorString()));

    Preferences &n = node();
    const prefs::PreferencesXml::Document parsed = prefs::PreferencesXml::parse(document);
    // The backends put each entry at once and only log a write that fails,
    // so a store that cannot be written would take the import in memory only
    // and lose it. It is tried before anything is put, and every write is
    // confirmed afterwards.
    n.flush();
    prefs::PreferencesFactory &tree = factory ? *factory : Preferences::factory();
    // All entries in one write of the store: an import cut short (a kill, a
    // full disk) leaves the store as it was, and a large one is no slower
    // than a save.
    if (!tree.writeTogether(
            [&] { prefs::PreferencesXml::apply(parsed, *tree.userRoot(), *tree.systemRoot()); })) {
        tree.userRoot()->flush();
        if (parsed.systemTree)
            tree.systemRoot()->flush();
    }
    n.sync();
}

} // namespace omvara::config
