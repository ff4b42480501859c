// SPDX-License-Identifier: GPL-3.0-or-later
// The complete set of settings of the program.
#pragma once

#include "omvara/config/CodeSettings.h"
#include "omvara/config/ConfigHelper.h"
#include "omvara/config/Instrument.h"
#include "omvara/util/Decimal.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace omvara::config {

// What a listener of Config hears when the instrument is set: the property
// name is the name of the new instrument's type ("NUMBER" or "TEXT"), the
// old value is always none.
struct PropertyChangeEvent
{
    QString propertyName;
    const ConfigHelper::Instrument *oldValue = nullptr;
    const ConfigHelper::Instrument *newValue = nullptr;
};

class PropertyChangeListener
{
public:
    virtual ~PropertyChangeListener() = default;
    virtual void propertyChange(const PropertyChangeEvent &event) = 0;
};

// The complete set of user settings as one object. The main window owns the
// current one (and a snapshot of what was last saved); runs read the one
// they were started with. Not thread-safe: use it on one thread at a time.
//
// Setters store what they are given unchanged; values are validated where
// they are typed and when they are loaded. Texts may be absent (a null
// QString), which compares different from the empty text in hasChanged()
// (the port's device and the request command and hotkey compare by content).
//
// Each stored setting is a row of settingsTable() (SettingsTable.h), which
// loads, saves, compares and copies it through the accessors here: adding a
// setting means one row there and one member here with its accessors.
//
// Config is move-only: copies are made explicitly with copyConfig(), which
// leaves prevPort and the listeners behind.
class Config
{
public:
    using Instrument = ConfigHelper::Instrument;
    using Connect = ConfigHelper::Connect;
    using KeyboardType = ConfigHelper::KeyboardType;
    using DecimalSeparator = ConfigHelper::DecimalSeparator;
    using StartWith = ConfigHelper::StartWith;
    using OutputTerminator = ConfigHelper::OutputTerminator;
    using MathOperation = ConfigHelper::MathOperation;
    using RoundingMethod = ConfigHelper::RoundingMethod;
    using Sound = ConfigHelper::Sound;
    using EditOperation = ConfigHelper::EditOperation;
    using EditPosition = ConfigHelper::EditPosition;

    // Initial values: no instrument, line-setting ordinals and terminator 0,
    // delay "20", the four tray and update switches on, every other set at
    // its default and every other text empty.
    Config();
    Config(const Config &) = delete;
    Config &operator=(const Config &) = delete;
    // Moves take the listeners along (the object they listened to lives on
    // under a new address).
    Config(Config &&) = default;
    Config &operator=(Config &&) = default;
    ~Config() = default;

    // A new Config with this one's settings; prevPort and listeners are not copied.
    Config copyConfig() const;
    // True when any setting differs (prevPort and listeners are not compared).
    bool hasChanged(const Config &other) const;

    // The name of the connection these settings belong to (ConnectionName).
    const QString &getConnectionName() const { return connectionName; }
    void setConnectionName(const QString &value) { connectionName = value; }

    const QString &getPort() const { return port; }
    void setPort(const QString &value) { port = value; }
    const QString &getPrevPort() const { return prevPort; }
    void setPrevPort(const QString &value) { prevPort = value; }

    // nullptr until an instrument is set.
    const Instrument *getInstrument() const { return instrument; }
    // Stores the instrument, then tells every listener (property name: the
    // instrument's type name). Passing nullptr stores no instrument and tells nobody.
    void setInstrument(const Instrument *value);
    void setInstrument(const Instrument &value) { setInstrument(&value); }

    int getBitRate() const { return bitRate; }
    void setBitRate(int value) { bitRate = value; }
    int getDataBits() const { return dataBits; }
    void setDataBits(int value) { dataBits = value; }
    int getStopBits() const { return stopBits; }
    void setStopBits(int value) { stopBits = value; }
    int getParity() const { return parity; }
    void setParity(int value) { parity = value; }
    int getInputTerminator() const { return inputTerminator; }
    void setInputTerminator(int value) { inputTerminator = value; }

    const Connect &getConnect() const { return *connect; }
    void setConnect(const Connect &value) { connect = &value; }
    const KeyboardType &getKeyboardType() const { return *keyboardType; }
    void setKeyboardType(const KeyboardType &value) { keyboardType = &value; }
    const QString &getDelay() const { return delay; }
    void setDelay(const QString &value) { delay = value; }
    const DecimalSeparator &getDecimalSeparator() const { return *decimalSeparator; }
    void setDecimalSeparator(const DecimalSeparator &value) { decimalSeparator = &value; }
    const StartWith &getStartWith() const { return *startWith; }
    void setStartWith(const StartWith &value) { startWith = &value; }
    const OutputTerminator &getOutputTerminator() const { return *outputTerminator; }
    void setOutputTerminator(const OutputTerminator &value) { outputTerminator = &value; }
    const MathOperation &getMathOperation() const { return *mathOperation; }
    void setMathOperation(const MathOperation &value) { mathOperation = &value; }
    const QString &getMathOperand() const { return mathOperand; }
    void setMathOperand(const QString &value) { mathOperand = value; }
    const QString &getDecimalPlaces() const { return decimalPlaces; }
    void setDecimalPlaces(const QString &value) { decimalPlaces = value; }
    const RoundingMethod &getRoundingMethod() const { return *roundingMethod; }
    void setRoundingMethod(const RoundingMethod &value) { roundingMethod = &value; }
    const Sound &getSound() const { return *sound; }
    void setSound(const Sound &value) { sound = &value; }
    const EditOperation &getEditOperation() const { return *editOperation; }
    void setEditOperation(const EditOperation &value) { editOperation = &value; }
    const EditPosition &getEditPosition() const { return *editPosition; }
    void setEditPosition(const EditPosition &value) { editPosition = &value; }
    const QString &getEditNumCharacters() const { return editNumCharacters; }
    void setEditNumCharacters(const QString &value) { editNumCharacters = value; }
    const QString &getRemoveCharacters() const { return removeCharacters; }
    void setRemoveCharacters(const QString &value) { removeCharacters = value; }
    const QString &getCustomRegEx() const { return customRegEx; }
    void setCustomRegEx(const QString &value) { customRegEx = value; }
    const QString &getIgnoreTimeLimit() const { return ignoreTimeLimit; }
    void setIgnoreTimeLimit(const QString &value) { ignoreTimeLimit = value; }
    const QString &getIgnoreDifference() const { return ignoreDifference; }
    void setIgnoreDifference(const QString &value) { ignoreDifference = value; }

    // ---- Record file and broker.

    // The record file's path pattern (OutputSettings.h); "" is off.
    const QString &getRecordFile() const { return recordFile; }
    void setRecordFile(const QString &value) { recordFile = value; }
    // The broker address "mqtt[s]://[user@]host[:port]/topic"; "" is off.
    const QString &getMqttUrl() const { return mqttUrl; }
    void setMqttUrl(const QString &value) { mqttUrl = value; }
    // Certificate authorities for TLS instead of the system's; "" for the system's.
    const QString &getMqttCaFile() const { return mqttCaFile; }
    void setMqttCaFile(const QString &value) { mqttCaFile = value; }

    // ---- Stamps beside the value (Stamp.h); "" types nothing.

    const QString &getStampBefore() const { return stampBefore; }
    void setStampBefore(const QString &value) { stampBefore = value; }
    const QString &getStampAfter() const { return stampAfter; }
    void setStampAfter(const QString &value) { stampAfter = value; }
    // ---- Codes (CodeSettings.h).

    // A text instrument types with the key map for every printable character.
    bool getTypeEveryCharacter() const { return typeEveryCharacter; }
    void setTypeEveryCharacter(bool value) { typeEveryCharacter = value; }
    // How received bytes are read as text.
    const InputEncoding &getInputEncoding() const { return *inputEncoding; }
    void setInputEncoding(const InputEncoding &value) { inputEncoding = &value; }
    // What GS, RS and EOT inside a value become when it is typed, with the
    // key or the text they become.
    const ControlCharacters &getControlCharacters() const { return *controlCharacters; }
    void setControlCharacters(const ControlCharacters &value) { controlCharacters = &value; }
    const ControlKey &getControlKey() const { return *controlKey; }
    void setControlKey(const ControlKey &value) { controlKey = &value; }
    const QString &getControlText() const { return controlText; }
    void setControlText(const QString &value) { controlText = value; }
    // A symbology identifier at the start of a value ("]C1") is removed.
    bool getRemoveSymbologyId() const { return removeSymbologyId; }
    void setRemoveSymbologyId(bool value) { removeSymbologyId = value; }

    // ---- Typed views for the workers.

    // The decimal places as a number; nothing when the text is absent, empty
    // or not a base-10 integer.
    std::optional<int> getDecimalPlacesAsInt() const;
    // The delay in milliseconds; 20 when the text does not parse.
    int getDelayAsInt() const;
    // 0 when the text is absent, empty or does not parse.
    int getEditNumCharactersAsInt() const;
    // The operand as a decimal number. Precondition: the operand is valid and
    // not empty (mathOperationEnabled()); throws util::NumberFormatError otherwise.
    util::Decimal getMathOperandAsBigDecimal() const;
    // Decimal places present and an integer from 0 to 7.
    bool roundingEnabled() const;
    // An operation other than NONE with a non-empty operand; a division only
    // when rounding is set up too (its result needs a scale).
    bool mathOperationEnabled() const;

    // Listeners are not owned; remove one before destroying it.
    void addPropertyChangeListener(PropertyChangeListener *listener);
    void removePropertyChangeListener(PropertyChangeListener *listener);

    // ---- Switches.

    bool getMinimizeToTray() const { return minimizeToTray; }
    void setMinimizeToTray(bool value) { minimizeToTray = value; }
    bool getNotifyWhenMinimizedToTray() const { return notifyWhenMinimizedToTray; }
    void setNotifyWhenMinimizedToTray(bool value) { notifyWhenMinimizedToTray = value; }
    bool getCheckForUpdates() const { return checkForUpdates; }
    void setCheckForUpdates(bool value) { checkForUpdates = value; }
    bool getAbortAutoStartWhenPrevPortNotAvailable() const { return abortAutoStartWhenPrevPortNotAvailable; }
    void setAbortAutoStartWhenPrevPortNotAvailable(bool value)
    {
        abortAutoStartWhenPrevPortNotAvailable = value;
    }
    bool getIgnoreDuplicates() const { return ignoreDuplicates; }
    void setIgnoreDuplicates(bool value) { ignoreDuplicates = value; }

    // ---- Ports beyond one cable.

    // The run waits for a device that went away and reads on once it is back.
    bool getReconnect() const { return reconnect; }
    void setReconnect(bool value) { reconnect = value; }
    // The ports used last, newest first, at most kRecentPortsMax; typed
    // network addresses among them. Stored as one text, names joined by ';'.
    const QStringList &getRecentPorts() const { return recentPorts; }
    void setRecentPorts(const QStringList &value) { recentPorts = value; }
    static constexpr int kRecentPortsMax = 5;
    // Puts `name` first in the recent ports (once) and drops the oldest beyond the limit.
    void rememberPort(const QString &name);
    // With a stable USB name (/dev/serial/by-id/...) as the port: the plain
    // device it pointed to when it was chosen, used where that name does not
    // exist (settings brought from another workstation).
    const QString &getPortDevice() const { return portDevice; }
    void setPortDevice(const QString &value) { portDevice = value; }

    // ---- Readings on request, and settled readings (rules in RequestSettings.h).

    // The command as written, with its escapes; empty: the instrument's own.
    const QString &getRequestCommand() const { return requestCommand; }
    void setRequestCommand(const QString &value) { requestCommand = value; }
    // Milliseconds between requests while a run is going; 0: no interval.
    int getRequestInterval() const { return requestInterval; }
    void setRequestInterval(int value) { requestInterval = value; }
    // The global hotkey that asks for a reading, portable text; empty: none.
    const QString &getRequestHotkey() const { return requestHotkey; }
    void setRequestHotkey(const QString &value) { requestHotkey = value; }
    // Equal values in a row before one is handed on; 1: every value.
    int getStableReadings() const { return stableReadings; }
    void setStableReadings(int value) { stableReadings = value; }

private:
    QString port;
    const Instrument *instrument = nullptr;
    int bitRate = 0;
    int dataBits = 0;
    int stopBits = 0;
    int parity = 0;
    int inputTerminator = 0;
    const Connect *connect;
    const KeyboardType *keyboardType;
    QString delay;
    const DecimalSeparator *decimalSeparator;
    const StartWith *startWith;
    const OutputTerminator *outputTerminator;
    const MathOperation *mathOperation;
    QString mathOperand;
    QString decimalPlaces;
    const RoundingMethod *roundingMethod;
    const Sound *sound;
    const EditOperation *editOperation;
    const EditPosition *editPosition;
    QString editNumCharacters;
    QString removeCharacters;
    QString customRegEx;
    QString ignoreTimeLimit;
    QString ignoreDifference;

    // Record file and broker.
    QString recordFile;
    QString mqttUrl;
    QString mqttCaFile;

    QString stampBefore;
    QString stampAfter;

    QString connectionName;

    bool minimizeToTray = true;
    bool notifyWhenMinimizedToTray = true;
    bool checkForUpdates = true;
    bool abortAutoStartWhenPrevPortNotAvailable = true;
    bool ignoreDuplicates = false;

    bool reconnect = false;
    QStringList recentPorts;
    QString portDevice;

    QString requestCommand;
    int requestInterval = 0;
    QString requestHotkey;
    int stableReadings = 1;

    bool typeEveryCharacter = false;
    const InputEncoding *inputEncoding = &InputEncoding::getDefault();
    const ControlCharacters *controlCharacters = &ControlCharacters::getDefault();
    const ControlKey *controlKey = &ControlKey::getDefault();
    QString controlText = ControlText::getDefault();
    bool removeSymbologyId = false;

    QString prevPort;
    QList<PropertyChangeListener *> listeners;
};

} // namespace omvara::config
