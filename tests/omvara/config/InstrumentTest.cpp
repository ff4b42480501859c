// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/Instrument.h"
#include "omvara/config/Config.h"
#include "omvara/config/LinePattern.h"
#include "omvara/util/Bundle.h"

#include <gtest/gtest.h>

using omvara::config::Config;
using omvara::config::ConfigHelper;
using I = ConfigHelper::Instrument;

namespace {

struct LineRow
{
    const I *instrument;
    int bitRate, dataBits, parity, stopBits, terminator;
};

// Line parameters as ordinals: bit rate, data bits, parity, stop bits, then the terminator byte.
const LineRow lineRows[] = {
    { &I::GENERIC, 7, 3, 0, 0, 13 },
    { &I::BARCODE, 7, 3, 0, 0, 13 },
    { &I::BARCODE_ALPHA, 7, 3, 0, 0, 13 },
    { &I::BARCODE_ALPHA_COMPLETE, 7, 3, 0, 0, 13 },
    { &I::BARCODE_ALL, 7, 3, 0, 0, 13 },
    { &I::AND, 5, 2, 2, 0, 10 },
    { &I::AND_SIMPLE, 5, 2, 2, 0, 10 },
    { &I::AND_EM, 7, 3, 0, 0, 10 },
    { &I::ADAM_AZEXTRA_WEIGHT, 6, 3, 0, 0, 10 },
    { &I::ADAM_CBK, 6, 3, 0, 0, 13 },
    { &I::ADAM_CPWPLUS, 7, 3, 0, 0, 13 },
    { &I::ADAM_GC_WEIGHT, 6, 3, 0, 0, 10 },
    { &I::ADAM_GC_PCS, 6, 3, 0, 0, 10 },
    { &I::ADAM_HCB, 7, 3, 0, 0, 10 },
    { &I::ADAM_LABEL, 7, 3, 0, 0, 10 },
    { &I::KERN_572, 7, 3, 0, 0, 10 },
    { &I::KERND_DE, 7, 3, 0, 0, 10 },
    { &I::KERN_DS, 7, 3, 0, 0, 10 },
    { &I::KERN_FKB, 7, 3, 0, 0, 10 },
    { &I::KERN_KB_N, 7, 3, 0, 0, 10 },
    { &I::KERN_KFB, 7, 3, 0, 0, 13 },
    { &I::KERN_MPS, 7, 3, 0, 0, 10 },
    { &I::KEYENCE_IL, 7, 3, 0, 0, 10 },
    { &I::METTLER_DIALOG, 7, 3, 0, 0, 10 },
    { &I::METTLER_PRINT, 5, 2, 2, 0, 10 },
    { &I::MITUTOYO, 5, 3, 0, 0, 13 },
    { &I::MITUTOYO_LSM_6200, 7, 3, 0, 0, 10 },
    { &I::MYWEIGH_HD, 7, 3, 4, 0, 13 },
    { &I::OHAUS, 7, 3, 0, 0, 10 },
    { &I::OHAUSSPU, 5, 2, 0, 0, 10 },
    { &I::PRECISA, 7, 2, 2, 0, 10 },
    { &I::SARTORIUS, 4, 2, 1, 0, 10 },
    { &I::SCHLAGE_HANDPUNCH, 7, 3, 0, 0, 10 },
    { &I::TANITA_TL280, 7, 3, 0, 0, 10 },
    { &I::WEDDERBURN, 7, 3, 0, 0, 10 },
};

} // namespace

TEST(Instrument, catalogue_hasAllEntriesInOrder)
{
    const auto all = I::values();
    ASSERT_EQ(all.size(), 35);
    ASSERT_EQ(std::size(lineRows), 35u);
    for (int i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i], lineRows[i].instrument) << i;
        EXPECT_EQ(all[i]->ordinal(), i);
        EXPECT_EQ(&I::valueOf(all[i]->name()), all[i]);
        EXPECT_TRUE(I::valid(all[i]->name()));
    }
    EXPECT_EQ(I::KERND_DE.name(), "KERND_DE");
    EXPECT_FALSE(I::valid(u"KERN_DE"));
    EXPECT_THROW(I::valueOf(u"KERN_DE"), omvara::config::UnknownConstantError);
    EXPECT_EQ(&I::getDefault(), &I::GENERIC);
}

TEST(Instrument, defaultConfig_carriesTheLineParametersOnly)
{
    for (const LineRow &r : lineRows) {
        const Config c = r.instrument->getDefaultConfig();
        const std::string name = r.instrument->name().toStdString();
        EXPECT_EQ(c.getBitRate(), r.bitRate) << name;
        EXPECT_EQ(c.getDataBits(), r.dataBits) << name;
        EXPECT_EQ(c.getParity(), r.parity) << name;
        EXPECT_EQ(c.getStopBits(), r.stopBits) << name;
        EXPECT_EQ(c.getInputTerminator(), r.terminator) << name;
        // Everything else as a fresh Config has it.
        Config expected;
        expected.setBitRate(r.bitRate);
        expected.setDataBits(r.dataBits);
        expected.setParity(r.parity);
        expected.setStopBits(r.stopBits);
        expected.setInputTerminator(r.terminator);
        EXPECT_FALSE(c.hasChanged(expected)) << name;
    }
}

TEST(Instrument, defaultConfig_isAFreshObjectEachCall)
{
    Config a = I::SARTORIUS.getDefaultConfig();
    a.setBitRate(0);
    EXPECT_EQ(I::SARTORIUS.getDefaultConfig().getBitRate(), 4);
    EXPECT_FALSE(I::KERN_KB_N.getDefaultConfig().hasChanged(I::KERN_572.getDefaultConfig()));
}

TEST(Instrument, typesKeyMapsPatternsAndCommands)
{
    for (const I *i : I::values()) {
        const std::string name = i->name().toStdString();
        const bool text = i == &I::BARCODE || i == &I::BARCODE_ALPHA || i == &I::BARCODE_ALPHA_COMPLETE
            || i == &I::BARCODE_ALL;
        EXPECT_EQ(&i->getInstrumentType(),
            text ? &ConfigHelper::InstrumentType::TEXT : &ConfigHelper::InstrumentType::NUMBER)
            << name;
        EXPECT_EQ(i->getCaptureGroup(), 1) << name;
        EXPECT_EQ(i->getDataCommand(), i == &I::MITUTOYO ? QStringLiteral("1\r") : QString()) << name;
        EXPECT_TRUE(omvara::config::LinePattern::compile(i->getRegEx()).isValid()) << name;
    }
    EXPECT_EQ(&I::BARCODE.getKeyMapType(), &ConfigHelper::KeyMapType::NUMERIC);
    EXPECT_EQ(&I::BARCODE_ALPHA.getKeyMapType(), &ConfigHelper::KeyMapType::ALPHANUMERIC_BASIC);
    EXPECT_EQ(&I::BARCODE_ALPHA_COMPLETE.getKeyMapType(), &ConfigHelper::KeyMapType::ALPHANUMERIC_COMPLETE);
    EXPECT_EQ(&I::BARCODE_ALL.getKeyMapType(), &ConfigHelper::KeyMapType::ALL_PRINTABLE);
    EXPECT_EQ(&I::SARTORIUS.getKeyMapType(), &ConfigHelper::KeyMapType::NUMERIC);

    EXPECT_EQ(I::GENERIC.getRegEx(), R"(([-+]?\s*[0-9]*[\.,]?[0-9]+))");
    EXPECT_EQ(I::BARCODE.getRegEx(), I::GENERIC.getRegEx());
    EXPECT_EQ(I::AND_SIMPLE.getRegEx(), I::AND.getRegEx());
    EXPECT_EQ(I::AND_EM.getRegEx(), R"(([-+]+[0-9]*[\.,]?[0-9]+))");
    EXPECT_EQ(I::WEDDERBURN.getRegEx(), R"(^0(-?\s+[0-9]*\.?[0-9]+))");
    EXPECT_EQ(I::SCHLAGE_HANDPUNCH.getRegEx(), R"(\(\s*([0-9]*)\))");
    EXPECT_EQ(I::ADAM_LABEL.getRegEx(),
        R"(([-+]?\s*[0-9]*[\.,]?[0-9]+)\s?(kg|g|lb|oz|pcs|ct|d|GN|ozt|dwt|MM|TlH|TlC|Tlt|t|N|g2|TlJ))");
}

TEST(Instrument, testStrings_delegateOrDefaultToOneEmptyPair)
{
    EXPECT_EQ(I::AND_SIMPLE.getTestStrings(), I::AND.getTestStrings());
    EXPECT_EQ(I::AND_EM.getTestStrings(), I::AND.getTestStrings());
    EXPECT_EQ(I::AND.getTestStrings().size(), 4);
    const QList<std::pair<QString, QString>> none { { QString(""), QString("") } };
    EXPECT_EQ(I::GENERIC.getTestStrings(), none);
    EXPECT_EQ(I::SARTORIUS.getTestStrings(), none);
    EXPECT_EQ(I::WEDDERBURN.getTestStrings().size(), 6);
    EXPECT_EQ(I::TANITA_TL280.getTestStrings().at(0).first, "{0,16,~0,1,MO,\"TL-280\",Wg,123,Pt,0");
}

TEST(Instrument, toString_showsTextDevicesInItalics)
{
    const auto &bundle = ConfigHelper::getBundle();
    EXPECT_EQ(I::BARCODE.toString(),
        "<html><body><i>" + bundle.getString("barcode_numeric") + "</i></body></html>");
    EXPECT_EQ(I::SARTORIUS.toString(), "Sartorius");
    EXPECT_EQ(I::AND.toString(), "A&D");
    EXPECT_EQ(I::GENERIC.toString(), bundle.getString("generic"));
    EXPECT_EQ(I::GENERIC.getLabel(), bundle.getString("generic"));
}

TEST(Instrument, defaultMessage_comesFromTheBundleWhereTabled)
{
    const auto &bundle = ConfigHelper::getBundle();
    EXPECT_EQ(I::AND_EM.getDefaultMessage(), bundle.getString("aandd.em.defaultmessage"));
    EXPECT_EQ(I::SARTORIUS.getDefaultMessage(), bundle.getString("sartorius.defaultMessage"));
    EXPECT_EQ(I::AND.getDefaultMessage(), std::nullopt);
    EXPECT_EQ(I::KERN_572.getDefaultMessage(), std::nullopt);
    int withMessage = 0;
    for (const I *i : I::values())
        if (i->getDefaultMessage())
            ++withMessage;
    EXPECT_EQ(withMessage, 12);
}

TEST(Instrument, defaultMessage_missingKeyIsAnError)
{
    const QMap<QString, QString> damaged = { { "generic", "Generic" } };
    omvara::util::Bundle::install(ConfigHelper::BundleName, &damaged);
    EXPECT_THROW(I::GENERIC.getDefaultMessage(), omvara::util::MissingResourceError);
    EXPECT_EQ(I::GENERIC.toString(), "Generic");
    omvara::util::Bundle::install(ConfigHelper::BundleName, nullptr);
}
