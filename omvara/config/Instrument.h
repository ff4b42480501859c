// SPDX-License-Identifier: GPL-3.0-or-later
// The instrument catalogue.
#pragma once

#include "omvara/config/ConfigHelper.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

namespace omvara::config {

class Config;

// The catalogue of devices the program can read. Each entry knows how the
// device talks (default line parameters and terminator byte), how its value
// is found in a received line (pattern and capture group), what kind of value
// it delivers and which help text explains its set-up. Entries are unique
// constant-initialised objects, like every value set of ConfigHelper.
//
// Some entries take properties from another entry (AND_SIMPLE and AND_EM from
// AND, the Kern DE/DS/FKB/KB-N line parameters from KERN_572), so a change to
// the referenced entry changes them too.
class ConfigHelper::Instrument final : public ConfigHelper::Constant
{
public:
    static const Instrument GENERIC, BARCODE, BARCODE_ALPHA, BARCODE_ALPHA_COMPLETE, BARCODE_ALL, AND,
        AND_SIMPLE, AND_EM, ADAM_AZEXTRA_WEIGHT, ADAM_CBK, ADAM_CPWPLUS, ADAM_GC_WEIGHT, ADAM_GC_PCS,
        ADAM_HCB, ADAM_LABEL, KERN_572, KERND_DE, KERN_DS, KERN_FKB, KERN_KB_N, KERN_KFB, KERN_MPS,
        KEYENCE_IL, METTLER_DIALOG, METTLER_PRINT, MITUTOYO, MITUTOYO_LSM_6200, MYWEIGH_HD, OHAUS, OHAUSSPU,
        PRECISA, SARTORIUS, SCHLAGE_HANDPUNCH, TANITA_TL280, WEDDERBURN;

    static constexpr const char *DefaultRegEx = R"re(([-+]?\s*[0-9]*[\.,]?[0-9]+))re";

    static QList<const Instrument *> values();
    static const Instrument &valueOf(QStringView name);
    static bool valid(QStringView name);
    static const Instrument &getDefault() { return GENERIC; }

    // Number of the pattern group that holds the value.
    qint32 getCaptureGroup() const { return 1; }
    // Text to send to the device to request a reading; "" when none.
    QString getDataCommand() const;
    // A new Config with the device's line parameters (bit rate, data bits,
    // stop bits, parity ordinals and input terminator); every other field at
    // the Config() defaults. The caller owns and may change it.
    Config getDefaultConfig() const;
    // The set-up help text (bundle text, looked up at each call), or nothing
    // for devices without one. Throws MissingResourceError when the key is missing.
    std::optional<QString> getDefaultMessage() const;
    const InstrumentType &getInstrumentType() const { return *m_def.type; }
    const KeyMapType &getKeyMapType() const { return *m_def.keyMap; }
    // The pattern that finds the value in a received line.
    QString getRegEx() const;
    // Sample received lines, each with the value extraction must give ("" for
    // no match). Entries without samples give one pair of two empty texts.
    QList<std::pair<QString, QString>> getTestStrings() const;
    QString getLabel() const { return m_def.label.resolve(); }
    // The label; TEXT devices in the italic HTML form the instrument list shows.
    QString toString() const;

    // Every key of "omvara.config.ConfigBundle" the catalogue reads.
    static QStringList bundleKeys();

    // A sample line as stored in the catalogue (bytes, one character each).
    struct Sample
    {
        const char *line;
        const char *value;
    };

private:
    struct LineParameters
    {
        const BitRates *bitRate;
        const DataBits *dataBits;
        const Parity *parity;
        const StopBits *stopBits;
        qint32 inputTerminator;
    };
    struct Definition
    {
        Label label;
        LineParameters line { &BitRates::BR_9600, &DataBits::LN_8BITS, &Parity::NONE, &StopBits::ST_1BITS,
            13 };
        const char *messageKey = nullptr;
        const InstrumentType *type = &InstrumentType::NUMBER;
        const KeyMapType *keyMap = &KeyMapType::NUMERIC;
        const char *regEx = DefaultRegEx;
        const char *dataCommand = "";
        const Sample *samples = nullptr;
        int sampleCount = 0;
        // Entries that answer for this one.
        const Instrument *lineFrom = nullptr;
        const Instrument *regExFrom = nullptr;
        const Instrument *samplesFrom = nullptr;
    };

    constexpr Instrument(int ordinal, const char *name, Definition def)
        : Constant(ordinal, name)
        , m_def(def)
    {
    }

    Definition m_def;
};

} // namespace omvara::config
