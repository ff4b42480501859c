// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/Instrument.h"

#include "omvara/config/Config.h"
#include "omvara/util/Bundle.h"

#include <array>

namespace omvara::config {

namespace {

using I = ConfigHelper::Instrument;
using BR = ConfigHelper::BitRates;
using DB = ConfigHelper::DataBits;
using PA = ConfigHelper::Parity;
using SB = ConfigHelper::StopBits;
using IY = ConfigHelper::InstrumentType;
using KM = ConfigHelper::KeyMapType;

} // namespace

namespace {

// Sample lines as the devices send them, with the value extraction must find.
struct Samples
{
    using S = ConfigHelper::Instrument::Sample;
    static constexpr S andSamples[] = {
        { "ST, +00012.34 kg", "+00012.34" },
        { "US, -00012,45 g", "-00012,45" },
        { "ST, +00000101 PC", "+00000101" },
        { "ST, 12345,67 kg", "" },
    };
    static constexpr S adamAzextra[] = {
        // A printed receipt and a printed label ("?" stands for the currency sign), then a plain line.
        { "10/06/2016   03:52:47\r\n   UNIT PRICE        NET      TOTAL\r\n"
          "-------------------------------------\r\n?      4.45/100g    0.058kg ?    2.58\r\n\r\n\r\n\r\n",
            "    0.058" },
        { "\r\n\r\nDATE   10/06/2016\r\nTIME   04:18:39\r\n\r\nUNIT\r\nPRICE ?   33.43/100g\r\n\r\n"
          "NET.      1.234kg\r\n\r\nTOTAL ?  412.53\r\n\r\n\r\n\r\n",
            "      1.234" },
        { "   1.234kg\r\n", "   1.234" },
    };
    static constexpr S adamCbk[] = {
        { "  1.9999 kg\n", "  1.9999" },
        { "  -1.8999 kg\n", "-1.8999" },
    };
    static constexpr S adamCpwplus[] = {
        { "add:   A\n", "" },
        { "G/W:+ 60.24   kg\n\n\n\n", "+ 60.24" },
    };
    static constexpr S adamGcWeight[] = {
        { "Date   07/09/2010\r", "" },
        { "Time   16:20:15\r", "" },
        { "Scale ID         \r", "" },
        { "User ID          \r", "" },
        { "Gross Wt   0.0020 kg\r", "  0.0020" },
        { "Net Wt     0.0845 kg\r", "    0.0845" },
    };
    static constexpr S kernMps[] = {
        { "NET  WEIGHT  3.3kg\n", "  3.3" },
        { "N  60.24 kg\n", "  60.24" },
    };
    static constexpr S keyenceIl[] = {
        { "DR,08,-99.998\r", "-99.998" },
        { "DR,02,+123.567\r", "+123.567" },
        { "DR,02,123.567\r", "" },
    };
    static constexpr S mitutoyo[] = {
        { "01A+001.1920\r", "+001.1920" },
        { "01A-001.1805", "-001.1805" },
        { "+123.45", "" },
    };
    static constexpr S mitutoyoLsm[] = {
        { "P00, 12.3456\r\n", " 12.3456" },
        { "12.3456", "12.3456" },
        { "P00, +012.3456", "+012.3456" },
    };
    static constexpr S schlage[] = {
        { "021   001   15:27:00  06/29/16  IDENTITY VERIFIED FOR ID ( 999)", "999" },
    };
    static constexpr S tanita[] = {
        { R"({0,16,~0,1,MO,"TL-280",Wg,123,Pt,0)", "123" },
        { R"({0,16,~0,1,MO,"TL-280",Wg,-12.3,Pt,0)", "-12.3" },
    };
    // A GS1-128 element string behind its symbology identifier, with a GS
    // between two fields; the whole line but its line ends is the value.
    static constexpr S barcodeAll[] = {
        { "]C10109501101530003\x1d"
          "10AB_1@#%&\r",
            "]C10109501101530003\x1d"
            "10AB_1@#%&" },
        { "\n(x) [y] {z} <=?!> \"';~^|\r", "(x) [y] {z} <=?!> \"';~^|" },
        { "\r", "" },
    };
    static constexpr S wedderburn[] = {
        { "\nA    2.10", "" },
        { "0    2.45", "    2.45" },
        { "4-    0.35", "" },
        { "14/06/2016 13:26:35", "" },
        { "1", "" },
        { "B@G", "" },
    };
};

} // namespace

#define OMVARA_SAMPLES(array)                                                                                \
    .samples = Samples::array, .sampleCount = static_cast<int>(std::size(Samples::array))

// clang-format off
constinit const I I::GENERIC{0, "GENERIC", {
    .label = {"generic", true}, .messageKey = "generic.defaultMessage"}};
constinit const I I::BARCODE{1, "BARCODE", {
    .label = {"barcode_numeric", true}, .messageKey = "barcode_numeric.defaultMessage", .type = &IY::TEXT}};
constinit const I I::BARCODE_ALPHA{2, "BARCODE_ALPHA", {
    .label = {"barcode_alphanumeric", true}, .messageKey = "barcode_alphanumeric.defaultMessage",
    .type = &IY::TEXT, .keyMap = &KM::ALPHANUMERIC_BASIC, .regEx = R"re(([\dA-Z]+))re"}};
constinit const I I::BARCODE_ALPHA_COMPLETE{3, "BARCODE_ALPHA_COMPLETE", {
    .label = {"barcode_alphanumeric_complete", true},
    .messageKey = "barcode_alphanumeric_complete.defaultMessage",
    .type = &IY::TEXT, .keyMap = &KM::ALPHANUMERIC_COMPLETE, .regEx = R"re(([\dA-Za-z+-/*,.]+))re"}};
constinit const I I::BARCODE_ALL{4, "BARCODE_ALL", {
    .label = {"barcode_all", true}, .messageKey = "barcode_all.defaultMessage",
    .type = &IY::TEXT, .keyMap = &KM::ALL_PRINTABLE, .regEx = "(.+)", OMVARA_SAMPLES(barcodeAll)}};
constinit const I I::AND{5, "AND", {
    .label = {"A&D", false}, .line = {&BR::BR_2400, &DB::LN_7BITS, &PA::EVEN, &SB::ST_1BITS, 10},
    .regEx = R"re(([-+]+[0-9]*[\.,]?[0-9]+))re", OMVARA_SAMPLES(andSamples)}};
constinit const I I::AND_SIMPLE{6, "AND_SIMPLE", {
    .label = {"A&D (no handshaking)", false}, .lineFrom = &AND, .regExFrom = &AND, .samplesFrom = &AND}};
constinit const I I::AND_EM{7, "AND_EM", {
    .label = {"A&D EM", false}, .line = {&BR::BR_9600, &DB::LN_8BITS, &PA::NONE, &SB::ST_1BITS, 10},
    .messageKey = "aandd.em.defaultmessage", .regExFrom = &AND, .samplesFrom = &AND}};
constinit const I I::ADAM_AZEXTRA_WEIGHT{8, "ADAM_AZEXTRA_WEIGHT", {
    .label = {"adam_azextra_weight", true}, .line = {&BR::BR_4800, &DB::LN_8BITS, &PA::NONE, &SB::ST_1BITS, 10},
    .messageKey = "adam_azextra.defaultMessage", .regEx = R"re(([-+]?\s*[0-9]*[\.,]?[0-9]+)kg)re",
    OMVARA_SAMPLES(adamAzextra)}};
constinit const I I::ADAM_CBK{9, "ADAM_CBK", {
    .label = {"Adam CBK/GBK/GFK", false}, .line = {&BR::BR_4800, &DB::LN_8BITS, &PA::NONE, &SB::ST_1BITS, 13},
    .messageKey = "adam_cbk.defaultMessage", OMVARA_SAMPLES(adamCbk)}};
constinit const I I::ADAM_CPWPLUS{10, "ADAM_CPWPLUS", {
    .label = {"Adam CPWplus", false}, .line = {&BR::BR_9600, &DB::LN_8BITS, &PA::NONE, &SB::ST_1BITS, 13},
    .messageKey = "adam_cpwplus.defaultMessage", OMVARA_SAMPLES(adamCpwplus)}};
constinit const I I::ADAM_GC_WEIGHT{11, "ADAM_GC_WEIGHT", {
    .label = {"adam_gbc_gfc_weight", true}, .line = {&BR::BR_4800, &DB::LN_8BITS, &PA::NONE, &SB::ST_1BITS, 10},
    .regEx = R"re(Wt\s?([-+]?\s*[0-9]*[\.,]?[0-9]+))re", OMVARA_SAMPLES(adamGcWeight)}};
constinit const I I::ADAM_GC_PCS{12, "ADAM_GC_PCS", {
    .label = {"adam_gbc_gfc_pcs", true}, .line = {&BR::BR_4800, &DB::LN_8BITS, &PA::NONE, &SB::ST_1BITS, 10},
    .regEx = R"re(([-+]?\s*[0-9]*[\.,]?[0-9]+)\s?(pcs))re"}};
constinit const I I::ADAM_HCB{13, "ADAM_HCB", {
    .label = {"Adam Highland (HCB)", false}, .line = {&BR::BR_9600, &DB::LN_8BITS, &PA::NONE, &SB::ST_1BITS, 10},
    .messageKey = "adam_hcb.defaultMessage"}};
constinit const I I::ADAM_LABEL{14, "ADAM_LABEL", {
    .label = {"Adam label format", false}, .line = {&BR::BR_9600, &DB::LN_8BITS, &PA::NONE, &SB::ST_1BITS, 10},
    .regEx = R"re(([-+]?\s*[0-9]*[\.,]?[0-9]+)\s?(kg|g|lb|oz|pcs|ct|d|GN|ozt|dwt|MM|TlH|TlC|Tlt|t|N|g2|TlJ))re"}};
constinit const I I::KERN_572{15, "KERN_572", {
    .label = {"Kern 572", false}, .line = {&BR::BR_9600, &DB::LN_8BITS, &PA::NONE, &SB::ST_1BITS, 10}}};
constinit const I I::KERND_DE{16, "KERND_DE", {.label = {"Kern DE", false}, .lineFrom = &KERN_572}};
constinit const I I::KERN_DS{17, "KERN_DS", {.label = {"Kern DS", false}, .lineFrom = &KERN_572}};
constinit const I I::KERN_FKB{18, "KERN_FKB", {.label = {"Kern FKB", false}, .lineFrom = &KERN_572}};
constinit const I I::KERN_KB_N{19, "KERN_KB_N", {.label = {"Kern KB-N", false}, .lineFrom = &KERN_572}};
constinit const I I::KERN_KFB{20, "KERN_KFB", {
    .label = {"Kern KFB", false}, .line = {&BR::BR_9600, &DB::LN_8BITS, &PA::NONE, &SB::ST_1BITS, 13}}};
constinit const I I::KERN_MPS{21, "KERN_MPS", {
    .label = {"Kern MPS / MPT / MXS / MWS / MTS / MCB", false},
    .line = {&BR::BR_9600, &DB::LN_8BITS, &PA::NONE, &SB::ST_1BITS, 10},
    .regEx = R"re(^N.*?(-?\s*[0-9]*[\.,]?[0-9]+)\s*kg)re", OMVARA_SAMPLES(kernMps)}};
constinit const I I::KEYENCE_IL{22, "KEYENCE_IL", {
    .label = {"Keyence IL", false}, .line = {&BR::BR_9600, &DB::LN_8BITS, &PA::NONE, &SB::ST_1BITS, 10},
    .regEx = R"re(([+-]+\d*\.?\d+))re", OMVARA_SAMPLES(keyenceIl)}};
constinit const I I::METTLER_DIALOG{23, "METTLER_DIALOG", {
    .label = {"Mettler Toledo Dialog", false}, .line = {&BR::BR_9600, &DB::LN_8BITS, &PA::NONE, &SB::ST_1BITS, 10}}};
constinit const I I::METTLER_PRINT{24, "METTLER_PRINT", {
    .label = {"Mettler Toledo Print", false}, .line = {&BR::BR_2400, &DB::LN_7BITS, &PA::EVEN, &SB::ST_1BITS, 10}}};
constinit const I I::MITUTOYO{25, "MITUTOYO", {
    .label = {"Mitutoyo 264-007", false}, .line = {&BR::BR_2400, &DB::LN_8BITS, &PA::NONE, &SB::ST_1BITS, 13},
    .regEx = R"re(01A([-+]?\s*[0-9]*[\.,]?[0-9]+))re", .dataCommand = "1\r", OMVARA_SAMPLES(mitutoyo)}};
constinit const I I::MITUTOYO_LSM_6200{26, "MITUTOYO_LSM_6200", {
    .label = {"Mitutoyo LSM-6200", false}, .line = {&BR::BR_9600, &DB::LN_8BITS, &PA::NONE, &SB::ST_1BITS, 10},
    .regEx = R"re(([-+]?\s*[0-9]*\.+[0-9]+))re", OMVARA_SAMPLES(mitutoyoLsm)}};
constinit const I I::MYWEIGH_HD{27, "MYWEIGH_HD", {
    .label = {"MyWeigh HD", false}, .line = {&BR::BR_9600, &DB::LN_8BITS, &PA::SPACE, &SB::ST_1BITS, 13},
    .messageKey = "myweigh_hd.defaultMessage"}};
constinit const I I::OHAUS{28, "OHAUS", {
    .label = {"Ohaus", false}, .line = {&BR::BR_9600, &DB::LN_8BITS, &PA::NONE, &SB::ST_1BITS, 10}}};
constinit const I I::OHAUSSPU{29, "OHAUSSPU", {
    .label = {"Ohaus SPU,TA,NV", false}, .line = {&BR::BR_2400, &DB::LN_7BITS, &PA::NONE, &SB::ST_1BITS, 10}}};
constinit const I I::PRECISA{30, "PRECISA", {
    .label = {"Precisa", false}, .line = {&BR::BR_9600, &DB::LN_7BITS, &PA::EVEN, &SB::ST_1BITS, 10}}};
constinit const I I::SARTORIUS{31, "SARTORIUS", {
    .label = {"Sartorius", false}, .line = {&BR::BR_1200, &DB::LN_7BITS, &PA::ODD, &SB::ST_1BITS, 10},
    .messageKey = "sartorius.defaultMessage"}};
constinit const I I::SCHLAGE_HANDPUNCH{32, "SCHLAGE_HANDPUNCH", {
    .label = {"Schlage HandPunch (employee ID)", false},
    .line = {&BR::BR_9600, &DB::LN_8BITS, &PA::NONE, &SB::ST_1BITS, 10},
    .regEx = R"re(\(\s*([0-9]*)\))re", OMVARA_SAMPLES(schlage)}};
constinit const I I::TANITA_TL280{33, "TANITA_TL280", {
    .label = {"Tanita TL-280/TL-290", false}, .line = {&BR::BR_9600, &DB::LN_8BITS, &PA::NONE, &SB::ST_1BITS, 10},
    .regEx = R"re(Wg,([-+]?\s*[0-9]*[\.,]?[0-9]+))re", OMVARA_SAMPLES(tanita)}};
constinit const I I::WEDDERBURN{34, "WEDDERBURN", {
    .label = {"Wedderburn", false}, .line = {&BR::BR_9600, &DB::LN_8BITS, &PA::NONE, &SB::ST_1BITS, 10},
    .regEx = R"re(^0(-?\s+[0-9]*\.?[0-9]+))re", OMVARA_SAMPLES(wedderburn)}};
// clang-format on

#undef OMVARA_SAMPLES

namespace {

constexpr std::array<const I *, 35> allInstruments { &I::GENERIC, &I::BARCODE, &I::BARCODE_ALPHA,
    &I::BARCODE_ALPHA_COMPLETE, &I::BARCODE_ALL, &I::AND, &I::AND_SIMPLE, &I::AND_EM, &I::ADAM_AZEXTRA_WEIGHT,
    &I::ADAM_CBK, &I::ADAM_CPWPLUS, &I::ADAM_GC_WEIGHT, &I::ADAM_GC_PCS, &I::ADAM_HCB, &I::ADAM_LABEL,
    &I::KERN_572, &I::KERND_DE, &I::KERN_DS, &I::KERN_FKB, &I::KERN_KB_N, &I::KERN_KFB, &I::KERN_MPS,
    &I::KEYENCE_IL, &I::METTLER_DIALOG, &I::METTLER_PRINT, &I::MITUTOYO, &I::MITUTOYO_LSM_6200,
    &I::MYWEIGH_HD, &I::OHAUS, &I::OHAUSSPU, &I::PRECISA, &I::SARTORIUS, &I::SCHLAGE_HANDPUNCH,
    &I::TANITA_TL280, &I::WEDDERBURN };

} // namespace

QList<const I *> I::values()
{
    return QList<const I *>(allInstruments.begin(), allInstruments.end());
}

const I &I::valueOf(QStringView name)
{
    for (const I *c : allInstruments)
        if (c->latin1Name() == name)
            return *c;
    throw UnknownConstantError(
        QStringLiteral("No enum constant ConfigHelper.Instrument.%1").arg(name.toString()).toStdString());
}

bool I::valid(QStringView name)
{
    for (const I *c : allInstruments)
        if (c->latin1Name() == name)
            return true;
    return false;
}

QString I::getDataCommand() const
{
    return QString::fromLatin1(m_def.dataCommand);
}

Config I::getDefaultConfig() const
{
    if (m_def.lineFrom)
        return m_def.lineFrom->getDefaultConfig();
    Config config;
    config.setBitRate(m_def.line.bitRate->ordinal());
    config.setDataBits(m_def.line.dataBits->ordinal());
    config.setParity(m_def.line.parity->ordinal());
    config.setStopBits(m_def.line.stopBits->ordinal());
    config.setInputTerminator(m_def.line.inputTerminator);
    return config;
}

std::optional<QString> I::getDefaultMessage() const
{
    if (!m_def.messageKey)
        return std::nullopt;
    return ConfigHelper::getBundle().getString(QLatin1String(m_def.messageKey));
}

QString I::getRegEx() const
{
    if (m_def.regExFrom)
        return m_def.regExFrom->getRegEx();
    return QString::fromLatin1(m_def.regEx);
}

QList<std::pair<QString, QString>> I::getTestStrings() const
{
    if (m_def.samplesFrom)
        return m_def.samplesFrom->getTestStrings();
    QList<std::pair<QString, QString>> pairs;
    for (int i = 0; i < m_def.sampleCount; ++i)
        pairs.append(
            { QString::fromLatin1(m_def.samples[i].line), QString::fromLatin1(m_def.samples[i].value) });
    if (pairs.isEmpty())
        pairs.append({ QStringLiteral(""), QStringLiteral("") });
    return pairs;
}

QString I::toString() const
{
    if (&getInstrumentType() == &InstrumentType::TEXT)
        return QStringLiteral("<html><body><i>") + getLabel() + QStringLiteral("</i></body></html>");
    return getLabel();
}

QStringList I::bundleKeys()
{
    QStringList keys;
    for (const I *c : allInstruments) {
        if (c->m_def.label.fromBundle)
            keys << QLatin1String(c->m_def.label.text);
        if (c->m_def.messageKey)
            keys << QLatin1String(c->m_def.messageKey);
    }
    return keys;
}

} // namespace omvara::config
