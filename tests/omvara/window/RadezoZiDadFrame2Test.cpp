// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowTestSupport.h"

#include "omvara/config/ConfigStore.h"
#include "omvara/config/Instrument.h"
#include "omvara/prefs/FilePreferencesFactory.h"
#include "omvara/texts/WindowTexts.h"
#include "omvara/util/ProcessProperties.h"
#include "omvara/window/AboutPanel.h"
#include "omvara/window/AutoPortDialog.h"
#include "omvara/window/CustomRegExDialog.h"
#include "omvara/window/DecimalSeparatorBox.h"
#include "omvara/window/IgnoreDialog.h"
#include "omvara/window/InputPanel.h"
#include "omvara/window/OutputPanel.h"
#include "omvara/window/ProcessingPanel.h"
#include "omvara/window/RadezoZiDadFrame2.h"
#include "omvara/window/SettingsPanel.h"
#include "omvara/window/plus/PlusControls.h"
#include "portlink/FriendlyPortUtil.h"
#include "portlink/testing/ScopedNativeSide.h"
#include "portlink/testing/SimulatedNative.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace omvara;
using omvara::testing::ScriptedAnswers;
using Helper = omvara::config::ConfigHelper;
using Kind = omvara::MessageBoxes::Kind;
using Answer = omvara::MessageBoxes::Answer;

namespace {

enum Tab { Start = 0, Input = 1, Processing = 2, Output = 3, Settings = 4, EventLog = 5, About = 6 };

class CountingFrame : public RadezoZiDadFrame2
{
public:
    int saves = 0;
    void saveConfig() override
    {
        ++saves;
        RadezoZiDadFrame2::saveConfig();
    }
};

class FrameTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        omvara::testing::app();
        portlink::FriendlyPortUtil::reset();
        ASSERT_TRUE(dir.isValid());
        util::ProcessProperties::set(
            prefs::FilePreferencesFactory::SYSTEM_PROPERTY_FILE, dir.filePath(QStringLiteral("prefs.txt")));
        prefs::FilePreferencesFactory::forgetPreferencesFile();
        factory = std::make_unique<prefs::FilePreferencesFactory>();
        frame = makeFrame();
    }

    void TearDown() override
    {
        frame.reset();
        util::ProcessProperties::remove(prefs::FilePreferencesFactory::SYSTEM_PROPERTY_FILE);
        prefs::FilePreferencesFactory::forgetPreferencesFile();
    }

    // A window as the start-up sequence leaves it: settings loaded, controls
    // built, the configuration equal to the controls and marked as saved.
    std::unique_ptr<CountingFrame> makeFrame()
    {
        auto f = std::make_unique<CountingFrame>();
        f->setConfigStore(std::make_unique<config::ConfigStore>(*factory));
        f->setPorts({ QStringLiteral("COM1"), QStringLiteral("COM3") });
        f->loadConfig();
        f->initComponents();
        f->updateConfigFromTabs();
        f->setOldConfig(f->getConfig().copyConfig());
        f->saves = 0;
        return f;
    }

    config::Config &config() { return frame->getConfig(); }
    void selectTab(Tab tab) { frame->tabbedPane->setCurrentIndex(tab); }
    void selectInstrument(const Helper::Instrument &instrument)
    {
        frame->inputPanel->instrumentBox->setCurrentIndex(instrument.ordinal());
    }
    QString text(const char *key) { return omvara::texts::WindowTexts::text(key); }

    QTemporaryDir dir;
    std::unique_ptr<prefs::FilePreferencesFactory> factory;
    std::unique_ptr<CountingFrame> frame;
};

} // namespace

TEST_F(FrameTest, tabs_areTheSevenInTheirOrder)
{
    ASSERT_EQ(frame->tabbedPane->count(), 7);
    const QList<QWidget *> expected = { frame->panel1, static_cast<QWidget *>(frame->inputPanel),
        static_cast<QWidget *>(frame->processingPanel), static_cast<QWidget *>(frame->outputPanel),
        static_cast<QWidget *>(frame->settingsPanel), frame->eventLogPanel,
        static_cast<QWidget *>(frame->aboutPanel) };
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(frame->tabbedPane->widget(i), expected[i]) << i;
    EXPECT_EQ(frame->tabbedPane->tabText(Input), text("RadezoZiDadFrame2.inputPanel.tab.title"));
}

TEST_F(FrameTest, labels_areBoundToTheirControls)
{
    EXPECT_EQ(frame->inputPanel->label2->buddy(), frame->inputPanel->portList);
    EXPECT_EQ(frame->inputPanel->deviceLabel->buddy(), frame->inputPanel->instrumentBox);
    EXPECT_EQ(frame->inputPanel->label9->buddy(), frame->inputPanel->inputTerminatorBox);
    EXPECT_EQ(frame->processingPanel->label15->buddy(), frame->processingPanel->decimalTextField);
    EXPECT_EQ(frame->processingPanel->label16->buddy(), frame->processingPanel->decimalTextField);
    EXPECT_EQ(frame->outputPanel->label12->buddy(), frame->outputPanel->startWithBox);
    EXPECT_EQ(frame->outputPanel->label26->buddy(), frame->outputPanel->delayTextField);
}

TEST_F(FrameTest, instrumentList_showsTextDevicesInItalics)
{
    QComboBox *box = frame->inputPanel->instrumentBox;
    for (const Helper::Instrument *instrument : Helper::Instrument::values()) {
        const bool text = &instrument->getInstrumentType() == &Helper::InstrumentType::TEXT;
        const QVariant font = box->itemData(instrument->ordinal(), Qt::FontRole);
        EXPECT_EQ(font.isValid() && font.value<QFont>().italic(), text) << instrument->name().toStdString();
        EXPECT_EQ(box->itemText(instrument->ordinal()), instrument->getLabel());
    }
}

struct TerminatorCase
{
    const char *typed;
    int expected; // -1: refused
};

class TerminatorTest : public FrameTest, public ::testing::WithParamInterface<TerminatorCase>
{
};

TEST_P(TerminatorTest, typedTerminator_isStoredOrRefusedWithTheMessage)
{
    ScriptedAnswers answers;
    config().setInputTerminator(10);
    frame->inputPanel->showInputTerminator(10);
    selectTab(Start);
    QComboBox *box = frame->inputPanel->inputTerminatorBox;
    box->setEditText(QString::fromLatin1(GetParam().typed));
    Q_EMIT box->lineEdit()->editingFinished();
    if (GetParam().expected >= 0) {
        EXPECT_EQ(config().getInputTerminator(), GetParam().expected);
        EXPECT_TRUE(answers.requests.empty());
    } else {
        EXPECT_EQ(config().getInputTerminator(), 10);
        EXPECT_EQ(box->currentText(), Helper::InputTerminator::LF.toString());
        EXPECT_EQ(answers.texts(Kind::Message), QStringList { text("terminator.must.be.between.0.and.255") });
        EXPECT_EQ(frame->tabbedPane->currentWidget(), frame->inputPanel);
    }
}

INSTANTIATE_TEST_SUITE_P(Codes, TerminatorTest,
    ::testing::Values(TerminatorCase { "300", -1 }, TerminatorCase { "9", 9 }, TerminatorCase { "0", 0 },
        TerminatorCase { "255", 255 }, TerminatorCase { "256", -1 }, TerminatorCase { "-1", -1 },
        TerminatorCase { "x", -1 }, TerminatorCase { "", -1 }),
    [](const ::testing::TestParamInfo<TerminatorCase> &info) { return "case" + std::to_string(info.index); });

TEST_F(FrameTest, namedTerminator_chosenFromTheList_storesItsCode)
{
    QComboBox *box = frame->inputPanel->inputTerminatorBox;
    box->setCurrentIndex(Helper::InputTerminator::EOT.ordinal());
    Q_EMIT box->activated(box->currentIndex());
    EXPECT_EQ(config().getInputTerminator(), Helper::InputTerminator::EOT.getCode());
}

struct DelayCase
{
    const char *typed;
    bool accepted;
};

class DelayTest : public FrameTest, public ::testing::WithParamInterface<DelayCase>
{
};

TEST_P(DelayTest, typedDelay_isAcceptedOrRefused)
{
    ScriptedAnswers answers;
    config().setDelay(QStringLiteral("20"));
    QLineEdit *field = frame->outputPanel->delayTextField;
    field->clear();
    const QString typed = QString::fromLatin1(GetParam().typed);
    if (typed.isEmpty()) {
        field->setText(QStringLiteral("5"));
        QTest::keyClick(field, Qt::Key_Backspace);
    } else {
        QTest::keyClicks(field, typed);
    }
    // Nothing is said or stored while the user is still typing ("100" on the
    // way to "1000" is fine, "1001" is not a reason to interrupt "100").
    omvara::testing::flushEvents();
    EXPECT_TRUE(answers.texts(Kind::Message).isEmpty());
    EXPECT_EQ(config().getDelay(), QStringLiteral("20"));
    QTest::keyClick(field, Qt::Key_Return);
    omvara::testing::flushEvents();
    if (GetParam().accepted) {
        EXPECT_EQ(config().getDelay(), typed);
        EXPECT_TRUE(answers.texts(Kind::Message).isEmpty());
    } else {
        EXPECT_TRUE(answers.texts(Kind::Message).contains(text("error.intercharacter.delay")));
        EXPECT_EQ(config().getDelay(), QStringLiteral("20"));
    }
    // The field shows the value in effect.
    EXPECT_EQ(field->text(), config().getDelay());
}

INSTANTIATE_TEST_SUITE_P(Values, DelayTest,
    ::testing::Values(DelayCase { "1000", true }, DelayCase { "0", true }, DelayCase { "", true },
        DelayCase { "1001", false }, DelayCase { "-1", false }, DelayCase { "12a", false }),
    [](const ::testing::TestParamInfo<DelayCase> &info) { return "case" + std::to_string(info.index); });

TEST_F(FrameTest, updateConfigFromTabs_keepsTheLastValidDelay)
{
    ScriptedAnswers answers;
    config().setDelay(QStringLiteral("40"));
    frame->outputPanel->delayTextField->setText(QStringLiteral("5000"));
    frame->updateConfigFromTabs();
    omvara::testing::flushEvents();
    EXPECT_EQ(config().getDelay(), QStringLiteral("40"));
    EXPECT_TRUE(answers.texts(Kind::Message).contains(text("error.intercharacter.delay")));
}

TEST_F(FrameTest, leavingTabsWithoutAChange_writesNothing)
{
    ScriptedAnswers answers;
    for (Tab tab : { Input, Processing, Output, Settings, EventLog, About }) {
        selectTab(tab);
        selectTab(Start);
    }
    EXPECT_EQ(frame->saves, 0);
    EXPECT_TRUE(answers.requests.empty());
}

TEST_F(FrameTest, leavingASettingsTabAfterAChange_writesOnce)
{
    for (Tab tab : { Input, Processing, Output, About }) {
        SCOPED_TRACE(tab);
        frame->saves = 0;
        selectTab(tab);
        // A change on another tab's control stands for any change made while this tab was shown.
        auto *box = frame->inputPanel->bitRateBox;
        box->setCurrentIndex((box->currentIndex() + 1) % box->count());
        selectTab(Start);
        EXPECT_EQ(frame->saves, 1);
        selectTab(tab);
        selectTab(Start);
        EXPECT_EQ(frame->saves, 1);
    }
}

TEST_F(FrameTest, leavingStartSettingsOrEventLogTab_neverWrites)
{
    for (Tab tab : { Start, Settings, EventLog }) {
        selectTab(tab);
        // A change that only leaving its own tab would save.
        auto *box = frame->inputPanel->bitRateBox;
        box->setCurrentIndex((box->currentIndex() + 1) % box->count());
        selectTab(tab == Start ? EventLog : Start);
        EXPECT_EQ(frame->saves, 0) << tab;
    }
    EXPECT_EQ(frame->saves, 0);
}

TEST_F(FrameTest, settingsTabChanges_areSavedWhenMade)
{
    selectTab(Settings);
    SettingsPanel &settings = *frame->settingsPanel;
    // Each control once, and a radio button that is already chosen (no change).
    const std::vector<std::pair<const char *, std::function<void()>>> changes = {
        { "updates", [&] { settings.checkForUpdatesCheckBox->toggle(); } },
        { "reconnect", [&] { settings.reconnectCheckBox->toggle(); } },
        { "tray", [&] { settings.minimizeToTrayCheckBox->toggle(); } },
        { "notice", [&] { settings.notifyWhenMinimizedToTrayCheckBox->toggle(); } },
        { "abort", [&] { settings.abortAutoStartCheckBox->toggle(); } },
        { "automatic", [&] { settings.autoConnectButton->click(); } },
    };
    int expected = 0;
    for (const auto &[name, change] : changes) {
        change();
        EXPECT_EQ(frame->saves, ++expected) << name;
    }
    settings.autoConnectButton->click();
    EXPECT_EQ(frame->saves, expected) << "no change, no write";
    EXPECT_EQ(&config().getConnect(), &Helper::Connect::AUTO);
    EXPECT_NE(config().getReconnect(), config::Config().getReconnect());
    selectTab(Start);
    EXPECT_EQ(frame->saves, expected) << "leaving the tab adds nothing";
}

TEST_F(FrameTest, savedChange_reachesTheStore)
{
    frame->inputPanel->bitRateBox->setCurrentIndex(Helper::BitRates::BR_19200.ordinal());
    selectTab(Input);
    selectTab(Start);
    ASSERT_EQ(frame->saves, 1);
    prefs::FilePreferencesFactory again;
    config::ConfigStore store(again);
    config::Config loaded;
    store.loadConfig(loaded, { QStringLiteral("COM1"), QStringLiteral("COM3") });
    EXPECT_EQ(loaded.getBitRate(), Helper::BitRates::BR_19200.ordinal());
}

TEST_F(FrameTest, instrumentChangeWithCustomPattern_asksOnce_noKeepsIt)
{
    ScriptedAnswers answers;
    answers.answer(Answer::No);
    config().setCustomRegEx(QStringLiteral("N\\s+([0-9.]+)"));
    selectInstrument(Helper::Instrument::OHAUS);
    frame->updateConfigFromTabs();
    EXPECT_EQ(
        answers.texts(Kind::YesNo), QStringList { QStringLiteral("Overwrite custom regular expression?") });
    EXPECT_EQ(config().getCustomRegEx(), QStringLiteral("N\\s+([0-9.]+)"));
    EXPECT_EQ(config().getInstrument(), &Helper::Instrument::OHAUS);
}

TEST_F(FrameTest, instrumentChangeWithCustomPattern_yesClearsIt)
{
    ScriptedAnswers answers;
    answers.answer(Answer::Yes);
    config().setCustomRegEx(QStringLiteral("([0-9]+)"));
    frame->inputPanel->showCustomPattern();
    EXPECT_FALSE(frame->inputPanel->customPatternLabel->isHidden());
    selectInstrument(Helper::Instrument::KERN_572);
    EXPECT_EQ(config().getCustomRegEx(), QString());
    EXPECT_TRUE(frame->inputPanel->customPatternLabel->isHidden()) << "the note goes with the pattern";
}

TEST_F(FrameTest, instrumentChangeWithoutCustomPattern_asksNothing)
{
    ScriptedAnswers answers;
    selectInstrument(Helper::Instrument::OHAUS);
    EXPECT_TRUE(answers.requests.empty());
}

TEST_F(FrameTest, barcodeInstrument_disablesTheNumericControls_scaleEnablesThem)
{
    const QList<QWidget *> numeric = { static_cast<QComboBox *>(frame->processingPanel->mathOperationBox),
        static_cast<QLineEdit *>(frame->processingPanel->mathOperandTextField),
        static_cast<QLineEdit *>(frame->processingPanel->decimalTextField),
        static_cast<QComboBox *>(frame->processingPanel->roundingMethodBox),
        static_cast<QComboBox *>(frame->outputPanel->decimalSeparatorBox) };
    selectInstrument(Helper::Instrument::BARCODE);
    for (QWidget *w : numeric)
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_TRUE(frame->processingPanel->editOperationComboBox->isEnabled());
    selectInstrument(Helper::Instrument::SARTORIUS);
    for (QWidget *w : numeric)
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
}

// In a German session the point as separator gets a note beside it that
// names the comma; choosing the comma hides it. The setting is the user's.
TEST_F(FrameTest, decimalSeparatorNote_shownWhileTheSeparatorDiffersFromTheSessionsLanguage)
{
    const QByteArray before = qgetenv("LC_ALL");
    qputenv("LC_ALL", "de_DE.UTF-8");
    frame = makeFrame();
    if (before.isNull())
        qunsetenv("LC_ALL");
    else
        qputenv("LC_ALL", before);
    OutputPanel *output = frame->outputPanel;
    ASSERT_EQ(&output->decimalSeparatorBox->getSelected(), &Helper::DecimalSeparator::DOT);
    EXPECT_FALSE(output->decimalSeparatorNote->isHidden());
    EXPECT_TRUE(output->decimalSeparatorNote->text().contains(QStringLiteral("Choose Comma (,)")))
        << qPrintable(output->decimalSeparatorNote->text());
    output->decimalSeparatorBox->setCurrentIndex(Helper::DecimalSeparator::COMMA.ordinal());
    EXPECT_TRUE(output->decimalSeparatorNote->isHidden());
    EXPECT_EQ(&config().getDecimalSeparator(), &Helper::DecimalSeparator::COMMA);
}

TEST_F(FrameTest, windowBuiltForABarcodeReader_startsWithTheNumericControlsDisabled)
{
    config().setInstrument(Helper::Instrument::BARCODE_ALPHA);
    frame.reset();
    factory = std::make_unique<prefs::FilePreferencesFactory>();
    auto f = std::make_unique<CountingFrame>();
    f->setConfigStore(std::make_unique<config::ConfigStore>(*factory));
    config::Config c;
    c.setInstrument(Helper::Instrument::BARCODE_ALPHA);
    f->setConfig(std::move(c));
    f->initComponents();
    EXPECT_FALSE(f->processingPanel->decimalTextField->isEnabled());
    EXPECT_FALSE(f->outputPanel->decimalSeparatorBox->isEnabled());
    frame = std::move(f);
}

TEST_F(FrameTest, divisionWithoutDecimalPlaces_warnsOnceAndShowsTheField)
{
    ScriptedAnswers answers;
    frame->processingPanel->mathOperandTextField->setText(QStringLiteral("1000"));
    frame->processingPanel->decimalTextField->clear();
    frame->processingPanel->mathOperationBox->setSelected(Helper::MathOperation::DIVIDE);
    frame->updateConfigFromTabs();
    frame->updateConfigFromTabs();
    omvara::testing::flushEvents();
    const QString warning = text("please.enter.number.of.decimal.places.for.rounding.or.disable.division");
    EXPECT_EQ(answers.texts(Kind::Message), QStringList { warning });
    EXPECT_TRUE(frame->mathRoundingErrorWarningDisplayed);
    EXPECT_EQ(frame->tabbedPane->currentWidget(), frame->processingPanel);
    frame->updateConfigFromTabs();
    omvara::testing::flushEvents();
    EXPECT_EQ(answers.texts(Kind::Message).size(), 1);
}

TEST_F(FrameTest, operationWithoutOperand_isSetBackToNone)
{
    frame->processingPanel->mathOperandTextField->clear();
    frame->processingPanel->mathOperationBox->setSelected(Helper::MathOperation::MULTIPLY);
    frame->updateConfigFromTabs();
    EXPECT_EQ(&config().getMathOperation(), &Helper::MathOperation::NONE);
    EXPECT_EQ(&frame->processingPanel->mathOperationBox->getSelected(), &Helper::MathOperation::NONE);
}

TEST_F(FrameTest, choosingNoOperation_emptiesTheOperand)
{
    frame->processingPanel->mathOperandTextField->setText(QStringLiteral("2"));
    frame->processingPanel->mathOperationBox->setSelected(Helper::MathOperation::MULTIPLY);
    frame->updateConfigFromTabs();
    EXPECT_EQ(config().getMathOperand(), QStringLiteral("2"));
    frame->processingPanel->mathOperationBox->setSelected(Helper::MathOperation::NONE);
    EXPECT_TRUE(frame->processingPanel->mathOperandTextField->text().isEmpty());
    EXPECT_TRUE(config().getMathOperand().isEmpty());
}

struct FieldCase
{
    const char *field;
    const char *typed;
    const char *stored; // nullptr: refused
    const char *message;
    const char *detail = nullptr; // what the message says is wrong, on a line of its own
};

class FieldTest : public FrameTest, public ::testing::WithParamInterface<FieldCase>
{
};

TEST_P(FieldTest, validatingField_storesValidTextAndRefusesTheRest)
{
    ScriptedAnswers answers;
    const FieldCase &c = GetParam();
    auto *field = frame->findChild<QLineEdit *>(QLatin1String(c.field));
    ASSERT_NE(field, nullptr);
    auto current = [&] {
        const QString name = QLatin1String(c.field);
        if (name == QLatin1String("mathOperandTextField"))
            return config().getMathOperand();
        if (name == QLatin1String("decimalTextField"))
            return config().getDecimalPlaces();
        if (name == QLatin1String("editNumCharactersTextField"))
            return config().getEditNumCharacters();
        if (name == QLatin1String("recordFileTextField"))
            return config().getRecordFile();
        if (name == QLatin1String("mqttUrlTextField"))
            return config().getMqttUrl();
        if (name == QLatin1String("mqttCaFileTextField"))
            return config().getMqttCaFile();
        if (name == QLatin1String("stampBeforeTextField"))
            return config().getStampBefore();
        if (name == QLatin1String("stampAfterTextField"))
            return config().getStampAfter();
        if (name == QLatin1String("controlTextField"))
            return config().getControlText();
        return config().getRemoveCharacters();
    };
    // An operand only counts with an operation: without one the field is emptied.
    frame->processingPanel->mathOperandTextField->setText(QStringLiteral("2"));
    frame->processingPanel->mathOperationBox->setSelected(Helper::MathOperation::MULTIPLY);
    frame->updateConfigFromTabs();
    const QString before = current();
    field->setText(QString::fromUtf8(c.typed));
    frame->updateConfigFromTabs();
    omvara::testing::flushEvents();
    const QString expected = text(c.message) + (c.detail ? u'\n' + QString::fromUtf8(c.detail) : QString());
    if (c.stored) {
        EXPECT_EQ(current(), QString::fromUtf8(c.stored));
        EXPECT_FALSE(answers.texts(Kind::Message).contains(expected));
    } else {
        EXPECT_EQ(current(), before);
        EXPECT_TRUE(answers.texts(Kind::Message).contains(expected))
            << qPrintable(answers.texts(Kind::Message).join(u'|'));
    }
}

INSTANTIATE_TEST_SUITE_P(Fields, FieldTest,
    ::testing::Values(FieldCase { "mathOperandTextField", "0,5", "0.5", "error.math.operand" },
        FieldCase { "mathOperandTextField", "1000", "1000", "error.math.operand" },
        FieldCase { "mathOperandTextField", "0", nullptr, "error.math.operand" },
        FieldCase { "mathOperandTextField", "abc", nullptr, "error.math.operand" },
        FieldCase { "decimalTextField", "7", "7", "error.decimal.places" },
        FieldCase { "decimalTextField", "8", nullptr, "error.decimal.places" },
        FieldCase { "editNumCharactersTextField", "99", "99", "error.edit.numCharacters" },
        FieldCase { "editNumCharactersTextField", "0", nullptr, "error.edit.numCharacters" },
        FieldCase { "removeCharactersTextField", "kg ", "kg ", "error.edit.removeCharacters" },
        FieldCase { "removeCharactersTextField", "\xe2\x82\xac", nullptr, "error.edit.removeCharacters" },
        FieldCase {
            "recordFileTextField", " lab/{user}-{date}.csv ", "lab/{user}-{date}.csv", "error.record.file" },
        FieldCase { "recordFileTextField", "lab/{day}.csv", nullptr, "error.record.file" },
        FieldCase { "mqttUrlTextField", "mqtts://lab@broker:8884/site/scale",
            "mqtts://lab@broker:8884/site/scale", "error.mqtt.url" },
        FieldCase { "mqttUrlTextField", "mqtt://l:pw@broker/site", nullptr, "error.mqtt.url" },
        FieldCase { "mqttCaFileTextField", "/etc/ssl/lab.pem", "/etc/ssl/lab.pem", "error.mqtt.ca.file" },
        FieldCase {
            "stampBeforeTextField", "{date:dd.MM.yyyy} {time} ", "{date:dd.MM.yyyy} {time} ", "error.stamp" },
        FieldCase {
            "stampAfterTextField", " {connexion}", nullptr, "error.stamp", "unknown token {connexion}" },
        FieldCase { "controlTextField", "[{name}]", "[{name}]", "error.control.text" },
        FieldCase { "controlTextField", "\x1d", nullptr, "error.control.text" }),
    [](const ::testing::TestParamInfo<FieldCase> &info) { return "case" + std::to_string(info.index); });

TEST_F(FrameTest, fieldLosingFocusWithRefusedText_keepsTheFocusAndReports)
{
    ScriptedAnswers answers;
    frame->show();
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    selectTab(Processing);
    QLineEdit *decimal = frame->processingPanel->decimalTextField;
    QLineEdit *other = frame->processingPanel->editNumCharactersTextField;
    decimal->setFocus();
    ASSERT_TRUE(decimal->hasFocus());
    decimal->setText(QStringLiteral("12"));
    QTest::keyClick(decimal, Qt::Key_Tab);
    omvara::testing::flushEvents();
    EXPECT_FALSE(other->hasFocus());
    EXPECT_TRUE(answers.texts(Kind::Message).contains(text("error.decimal.places")));
    EXPECT_TRUE(decimal->hasFocus());
    EXPECT_NE(config().getDecimalPlaces(), QStringLiteral("12"));
}

TEST_F(FrameTest, defaultButton_showsTheInstrumentsMessageAndSetsItsLineSettings)
{
    ScriptedAnswers answers;
    selectInstrument(Helper::Instrument::GENERIC);
    frame->inputPanel->bitRateBox->setCurrentIndex(0);
    frame->inputPanel->defaultButton->click();
    const config::Config defaults = Helper::Instrument::GENERIC.getDefaultConfig();
    EXPECT_EQ(config().getBitRate(), defaults.getBitRate());
    EXPECT_EQ(config().getDataBits(), defaults.getDataBits());
    EXPECT_EQ(config().getParity(), defaults.getParity());
    EXPECT_EQ(config().getStopBits(), defaults.getStopBits());
    EXPECT_EQ(config().getInputTerminator(), defaults.getInputTerminator());
    ASSERT_EQ(answers.requests.size(), 1u);
    EXPECT_EQ(answers.requests[0].title, QStringLiteral("Info"));
    EXPECT_EQ(answers.requests[0].text, *Helper::Instrument::GENERIC.getDefaultMessage());
}

// What the next real message box shows its reader while `action` runs
// (markup rendered), after which the box is closed with OK.
QString readNextMessageBox(const std::function<void()> &action)
{
    QString shown = QStringLiteral("<no message box>");
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        auto *label = box ? box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label")) : nullptr;
        if (!label)
            return;
        poll.stop();
        const bool rich = label->textFormat() == Qt::RichText
            || (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
        QTextDocument rendered;
        rendered.setHtml(label->text());
        shown = rich ? rendered.toPlainText() : label->text();
        box->accept();
    });
    poll.start(10);
    action();
    return shown;
}

// The instruments' messages are markup ("<html>", "<br>"): the box shows
// them as formatted text, not the markup.
TEST_F(FrameTest, defaultButton_messageBoxShowsTheInstrumentsMarkupRendered)
{
    selectInstrument(Helper::Instrument::SARTORIUS);
    const QString shown = readNextMessageBox([&] { frame->inputPanel->defaultButton->click(); });
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Sartorius: 1200 baud, 7 data bits"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("LF (10).\nIn the balance's menu"))) << shown.toStdString();
    EXPECT_FALSE(shown.contains(u'<')) << shown.toStdString();
}

// The program's own markup is rendered; outside text (port names, failure
// texts, received data) is shown exactly as it is, whatever it holds.
TEST(MessageBoxTexts, ownMarkupIsRendered_outsideTextIsShownAsItIs)
{
    omvara::testing::app();
    using omvara::MessageText;
    const QString port = QStringLiteral("/dev/<b>odd</b> &amp;  port");
    struct Case
    {
        const char *what;
        MessageText text;
        QString shown;
    } cases[] = {
        { "own plain + outside", MessageText::own("Cannot open ") + MessageText::outside(port),
            "Cannot open " + port },
        { "own markup + outside",
            MessageText::own("<html>Cannot<br>open </html>") + MessageText::outside(port),
            "Cannot\nopen " + port },
        { "markup with an outside argument", MessageText::own("<html>Port {0}<br>is gone</html>", port),
            "Port " + port + "\nis gone" },
        { "plain with an outside argument", MessageText::own("Port {0} is gone", port),
            "Port " + port + " is gone" },
        { "outside markup alone", MessageText::outside("<html>W: 12.5<br>kg</html>"),
            "<html>W: 12.5<br>kg</html>" },
        { "outside line break inside markup",
            MessageText::own("<html>Failed:</html>") + MessageText::outside("\na  b"), "Failed:\na  b" },
    };
    for (const Case &c : cases) {
        const QString shown
            = readNextMessageBox([&] { MessageBoxes::showMessage(nullptr, c.text, "Title"); });
        EXPECT_EQ(shown, c.shown) << c.what;
    }
}

TEST_F(FrameTest, customizeButton_storesTheAcceptedPattern)
{
    ScriptedAnswers answers;
    answers.runDialogs([](QDialog &d) {
        auto &dialog = static_cast<CustomRegExDialog &>(d);
        dialog.regExTextArea->setPlainText(QStringLiteral("W:\\s*([0-9.]+)"));
        dialog.okButton->click();
        return dialog.result();
    });
    QLabel *note = frame->inputPanel->customPatternLabel;
    EXPECT_TRUE(note->isHidden()) << "the instrument's own pattern: nothing to say";
    frame->inputPanel->customizeButton->click();
    EXPECT_EQ(config().getCustomRegEx(), QStringLiteral("W:\\s*([0-9.]+)"));
    // The Input tab says that the custom pattern replaces the instrument's.
    EXPECT_FALSE(note->isHidden());
    EXPECT_TRUE(note->text().contains(QStringLiteral("W:\\s*([0-9.]+)"))) << note->text().toStdString();
}

TEST_F(FrameTest, customizeButtonCancelled_leavesThePattern)
{
    ScriptedAnswers answers;
    config().setCustomRegEx(QStringLiteral("([0-9]+)"));
    answers.runDialogs([](QDialog &d) {
        auto &dialog = static_cast<CustomRegExDialog &>(d);
        EXPECT_EQ(dialog.regExTextArea->toPlainText(), QStringLiteral("([0-9]+)"));
        dialog.regExTextArea->setPlainText(QStringLiteral("(x)"));
        dialog.cancelButton->click();
        return dialog.result();
    });
    frame->inputPanel->customizeButton->click();
    EXPECT_EQ(config().getCustomRegEx(), QStringLiteral("([0-9]+)"));
}

TEST_F(FrameTest, adjustIgnoreButton_storesTheAcceptedLimits)
{
    ScriptedAnswers answers;
    answers.runDialogs([](QDialog &d) {
        auto &dialog = static_cast<IgnoreDialog &>(d);
        dialog.ignoreTimeLimitTextField->setText(QStringLiteral("1500"));
        dialog.ignoreDifferenceTextField->setText(QStringLiteral("0,5"));
        dialog.okButton->click();
        return dialog.result();
    });
    frame->processingPanel->adjustIgnoreButton->click();
    EXPECT_EQ(config().getIgnoreTimeLimit(), QStringLiteral("1500"));
    EXPECT_EQ(config().getIgnoreDifference(), QStringLiteral("0.5"));
}

TEST_F(FrameTest, exportThenImport_throughTheWindow)
{
    ScriptedAnswers answers;
    const QString file = dir.filePath(QStringLiteral("Omvara.xml"));
    frame->inputPanel->bitRateBox->setCurrentIndex(Helper::BitRates::BR_2400.ordinal());
    frame->processingPanel->removeCharactersTextField->setText(QStringLiteral("kg"));
    // The record file from its chooser, the broker with a password for this session only.
    const QString records = dir.filePath(QStringLiteral("records.csv"));
    answers.choose(records);
    frame->outputPanel->chooseRecordFileButton->click();
    EXPECT_EQ(frame->outputPanel->recordFileTextField->text(), records);
    frame->outputPanel->mqttUrlTextField->setText(QStringLiteral("mqtt://lab@127.0.0.1/lab/scale1"));
    frame->outputPanel->mqttPasswordField->setText(QStringLiteral("pw-of-this-session"));
    answers.choose(file);
    frame->settingsPanel->exportSettingsButton->click();
    ASSERT_TRUE(QFile::exists(file));
    {
        QFile exported(file);
        ASSERT_TRUE(exported.open(QIODevice::ReadOnly));
        EXPECT_FALSE(exported.readAll().contains("pw-of-this-session")) << "the password is never exported";
    }
    ASSERT_FALSE(answers.requests.empty());
    EXPECT_EQ(answers.requests.back().title, text("export.successful"));
    EXPECT_TRUE(answers.requests.back().text.startsWith(text("configuration.exported.to.file.n")));

    // Settings changed and saved after the export...
    frame->inputPanel->bitRateBox->setCurrentIndex(Helper::BitRates::BR_115200.ordinal());
    frame->processingPanel->removeCharactersTextField->clear();
    frame->updateConfigFromTabs();
    frame->saveConfig();

    // ...are replaced by the exported ones, and the program ends with status 4.
    answers.choose(file);
    answers.answer(Answer::Ok);
    frame->settingsPanel->importSettingsButton->click();
    EXPECT_EQ(answers.texts(Kind::OkCancel),
        QStringList { QStringLiteral("Apply imported configuration and exit?") });
    EXPECT_EQ(answers.exits, std::vector<int> { 4 });

    prefs::FilePreferencesFactory nextStart;
    config::ConfigStore store(nextStart);
    config::Config loaded;
    store.loadConfig(loaded, { QStringLiteral("COM1"), QStringLiteral("COM3") });
    EXPECT_EQ(loaded.getBitRate(), Helper::BitRates::BR_2400.ordinal());
    EXPECT_EQ(loaded.getRemoveCharacters(), QStringLiteral("kg"));
    EXPECT_EQ(loaded.getRecordFile(), records);
    EXPECT_EQ(loaded.getMqttUrl(), QStringLiteral("mqtt://lab@127.0.0.1/lab/scale1"));
    for (const QString &key : store.node().keys())
        EXPECT_NE(store.node().get(key, {}), QStringLiteral("pw-of-this-session"))
            << "the password is never stored";
}

TEST_F(FrameTest, importCancelledAtTheQuestion_keepsTheProgramRunning)
{
    ScriptedAnswers answers;
    const QString file = dir.filePath(QStringLiteral("settings.xml"));
    ASSERT_TRUE(frame->exportSettingsTo(file));
    answers.choose(file);
    answers.answer(Answer::Cancel);
    frame->settingsPanel->importSettingsButton->click();
    EXPECT_TRUE(answers.exits.empty());
}

TEST_F(FrameTest, exportOverAnExistingFile_cancelledAtTheQuestion_leavesTheFile)
{
    ScriptedAnswers answers;
    const QString file = dir.filePath(QStringLiteral("Omvara.xml"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("keep me");
    }
    answers.choose(file);
    answers.answer(Answer::Cancel);
    frame->settingsPanel->exportSettingsButton->click();
    EXPECT_EQ(answers.texts(Kind::OkCancel), QStringList { text("file.already.exists.overwrite") });
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("keep me"));
}

TEST_F(FrameTest, exportChooserCancelled_writesNothing)
{
    ScriptedAnswers answers;
    frame->settingsPanel->exportSettingsButton->click();
    EXPECT_EQ(frame->saves, 0);
    ASSERT_EQ(answers.requests.size(), 1u);
    EXPECT_EQ(answers.requests[0].kind, Kind::SaveFile);
    EXPECT_TRUE(answers.requests[0].title.endsWith(QStringLiteral("Omvara.xml")));
}

TEST_F(FrameTest, importOfAFileThatIsNoExport_reportsTheFailureAndDoesNotExit)
{
    ScriptedAnswers answers;
    const QString file = dir.filePath(QStringLiteral("junk.xml"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<html>not settings</html>");
    }
    answers.choose(file);
    frame->settingsPanel->importSettingsButton->click();
    const QStringList messages = answers.texts(Kind::Message);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Import failed\n")));
    EXPECT_TRUE(answers.exits.empty());
    EXPECT_TRUE(answers.texts(Kind::OkCancel).isEmpty());
}

TEST_F(FrameTest, manualConnection_endsTraySupport)
{
    int removed = 0;
    frame->setRemoveMinimizeToTraySupport([&] { ++removed; });
    frame->settingsPanel->autoConnectButton->click();
    EXPECT_EQ(&config().getConnect(), &Helper::Connect::AUTO);
    EXPECT_EQ(removed, 0);
    frame->settingsPanel->manualConnectButton->click();
    EXPECT_EQ(&config().getConnect(), &Helper::Connect::MANUAL);
    EXPECT_EQ(removed, 1);
}

TEST_F(FrameTest, startStopButton_callsTheRunControl)
{
    int calls = 0;
    frame->setStartStopAction([&] { ++calls; });
    frame->startStopJButton->click();
    EXPECT_EQ(calls, 1);
}

TEST_F(FrameTest, refreshPorts_showsDriverNamesAndStoresThePortName)
{
    using namespace portlink::testing;
    auto native = std::make_shared<SimulatedNative>();
    native->addPort(QStringLiteral("COM3"), QStringLiteral("USB Serial Port"), QStringLiteral("FTDI"));
    native->addPort(
        QStringLiteral("COM7"), QStringLiteral("Communications Port"), QStringLiteral("(Standard)"));
    ScopedNativeSide side(native);
    ScriptedAnswers answers;
    frame->inputPanel->refreshPortsButton->click();
    QComboBox *list = frame->inputPanel->portList;
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(frame->getPorts(), (QStringList { QStringLiteral("COM3"), QStringLiteral("COM7") }));
    list->setCurrentIndex(list->findText(QStringLiteral("COM7: Communications Port - (Standard)")));
    EXPECT_EQ(config().getPort(), QStringLiteral("COM7"));
    EXPECT_EQ(list->toolTip(), QStringLiteral("COM7: Communications Port - (Standard)"));
    EXPECT_TRUE(answers.requests.empty());
    portlink::FriendlyPortUtil::reset();
}

TEST_F(FrameTest, refreshPortsWithNoPort_saysSo)
{
    using namespace portlink::testing;
    ScopedNativeSide side(std::make_shared<SimulatedNative>());
    ScriptedAnswers answers;
    frame->inputPanel->refreshPortsButton->click();
    EXPECT_EQ(answers.texts(Kind::Message),
        QStringList { text("no.rs.232.port.found.on.your.system.program.will.now.exit") });
    portlink::FriendlyPortUtil::reset();
}

TEST_F(FrameTest, autoButton_detectsThePortAndSelectsItInThePortList)
{
    using namespace portlink::testing;
    auto native = std::make_shared<SimulatedNative>();
    native->addPort(QStringLiteral("COM1"));
    auto &loop = native->addPort(QStringLiteral("COM3"));
    loop.setLine(SimLine::DSR, SimRule::FollowDTR);
    loop.setLine(SimLine::CTS, SimRule::FollowRTS);
    ScopedNativeSide side(native);
    frame->inputPanel->portList->setCurrentIndex(0);
    ASSERT_EQ(config().getPort(), QStringLiteral("COM1"));

    frame->inputPanel->autoButton->click();
    auto *dialog = frame->findChild<AutoPortDialog *>();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(omvara::testing::runUntil([&] { return !dialog->isDetectionRunning(); }, 10000));
    EXPECT_EQ(frame->inputPanel->portList->currentText(), QStringLiteral("COM3"));
    EXPECT_EQ(config().getPort(), QStringLiteral("COM3"));
    dialog->close();
}
