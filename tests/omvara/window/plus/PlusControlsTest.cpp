// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/plus/PlusControls.h"
#include "omvara/config/Instrument.h"
#include "omvara/window/DecimalSeparatorBox.h"

#include <QApplication>

#include <gtest/gtest.h>

using namespace omvara;

// Under the leak checker: font lookup in the system's font library keeps its
// caches for the life of the process; that is not ours to free.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
using Helper = config::ConfigHelper;

namespace {

void app()
{
    static int argc = 1;
    static char name[] = "omvara_plus_tests";
    static char *argv[] = { name, nullptr };
    if (!QApplication::instance())
        new QApplication(argc, argv);
}

} // namespace

TEST(PlusControlsTest, numericControls_followTheInstrumentType)
{
    app();
    config::Config config;
    plus::PlusRoundingMethodBox rounding(Helper::RoundingMethod::HALF_UP);
    plus::PlusMathOperationBox operation(Helper::MathOperation::NONE);
    plus::PlusMathOperandTextField operand { QString() };
    plus::PlusDecimalTextField decimals(QStringLiteral("2"));
    DecimalSeparatorBox separator(Helper::DecimalSeparator::COMMA);
    plus::PlusStartWithBox startWith(Helper::StartWith::TAB); // follows nothing
    const QList<QWidget *> followers = { static_cast<QComboBox *>(&rounding),
        static_cast<QComboBox *>(&operation), static_cast<QLineEdit *>(&operand),
        static_cast<QLineEdit *>(&decimals), static_cast<QComboBox *>(&separator) };
    const QList<config::PropertyChangeListener *> listeners
        = { static_cast<plus::InstrumentTypeFollower *>(&rounding),
              static_cast<plus::InstrumentTypeFollower *>(&operation),
              static_cast<plus::InstrumentTypeFollower *>(&operand),
              static_cast<plus::InstrumentTypeFollower *>(&decimals),
              static_cast<plus::InstrumentTypeFollower *>(&separator) };
    for (config::PropertyChangeListener *l : listeners)
        config.addPropertyChangeListener(l);

    const struct
    {
        const Helper::Instrument *instrument;
        bool enabled;
    } steps[] = { { &Helper::Instrument::SARTORIUS, true }, { &Helper::Instrument::BARCODE, false },
        { &Helper::Instrument::BARCODE_ALPHA, false }, { &Helper::Instrument::KERN_572, true },
        { &Helper::Instrument::SCHLAGE_HANDPUNCH,
            &Helper::Instrument::SCHLAGE_HANDPUNCH.getInstrumentType() == &Helper::InstrumentType::NUMBER } };
    for (const auto &step : steps) {
        config.setInstrument(step.instrument);
        for (QWidget *w : followers)
            EXPECT_EQ(w->isEnabled(), step.enabled) << step.instrument->name().toStdString();
        EXPECT_TRUE(startWith.isEnabled());
    }
    for (config::PropertyChangeListener *l : listeners)
        config.removePropertyChangeListener(l);
}

TEST(PlusControlsTest, otherNotifications_leaveTheStateAlone)
{
    app();
    plus::PlusDecimalTextField decimals { QString() };
    decimals.setEnabled(false);
    decimals.propertyChange({ QStringLiteral("port"), nullptr, nullptr });
    EXPECT_FALSE(decimals.isEnabled());
    decimals.propertyChange({ QStringLiteral("NUMBER"), nullptr, nullptr });
    EXPECT_TRUE(decimals.isEnabled());
}

TEST(PlusControlsTest, constantBoxes_listEveryValueAndConvertTheSelectionBothWays)
{
    app();
    plus::PlusSoundComboBox sound(Helper::Sound::COWBELL);
    EXPECT_EQ(sound.count(), Helper::Sound::values().size());
    EXPECT_EQ(&sound.getSelected(), &Helper::Sound::COWBELL);
    for (const Helper::Sound *s : Helper::Sound::values()) {
        sound.setSelected(*s);
        EXPECT_EQ(&sound.getSelected(), s);
        EXPECT_EQ(sound.currentText(), s->toString());
    }
    plus::PlusAutoConnectButton automatic(QStringLiteral("auto"), Helper::Connect::AUTO);
    plus::PlusAutoConnectButton manual(QStringLiteral("auto"), Helper::Connect::MANUAL);
    EXPECT_TRUE(automatic.isChecked());
    EXPECT_FALSE(manual.isChecked());
}
