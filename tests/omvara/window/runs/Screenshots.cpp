// SPDX-License-Identifier: GPL-3.0-or-later
#include "Screenshots.h"

#include "DoctorFixture.h"
#include "RunsTestSupport.h"

#include "omvara/config/Instrument.h"
#include "omvara/window/CustomRegExDialog.h"
#include "omvara/window/IgnoreDialog.h"
#include "omvara/window/PortDoctorDialog.h"
#include "omvara/window/ProcessingPanel.h"
#include "omvara/window/RadezoZiDadFrame2.h"
#include "omvara/window/RunControl.h"
#include "omvara/window/RunPanel.h"
#include "tests/support/RecordingKeyInjector.h"

#include <QGuiApplication>
#include <QLineEdit>

#include <QApplication>
#include <QDir>
#include <QHash>
#include <QPalette>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cmath>

namespace runs_test {

namespace {

bool save(QWidget &widget, const QString &folder, const QString &name, QStringList &written)
{
    settle(std::chrono::milliseconds(150));
    const QString file = QDir(folder).filePath(name + QStringLiteral(".png"));
    if (!widget.grab().save(file))
        return false;
    written.append(file);
    return true;
}

// A Sartorius record ("+    12.345 g  \r\n") of a load that settles.
QByteArray record(int i)
{
    const double value = 250.0 - 60.0 * std::exp(-i / 6.0) + ((i * 37) % 11 - 5) * 0.02;
    return QStringLiteral("+ %1 g  \r\n").arg(value, 10, 'f', 3).toLatin1();
}

// A dark desktop theme.
QPalette darkPalette()
{
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x35, 0x35, 0x35));
    p.setColor(QPalette::WindowText, QColor(0xE6, 0xE6, 0xE6));
    p.setColor(QPalette::Base, QColor(0x2A, 0x2A, 0x2A));
    p.setColor(QPalette::AlternateBase, QColor(0x35, 0x35, 0x35));
    p.setColor(QPalette::Text, QColor(0xE6, 0xE6, 0xE6));
    p.setColor(QPalette::Button, QColor(0x40, 0x40, 0x40));
    p.setColor(QPalette::ButtonText, QColor(0xE6, 0xE6, 0xE6));
    p.setColor(QPalette::Highlight, QColor(0x2A, 0x82, 0xDA));
    p.setColor(QPalette::HighlightedText, QColor(0xFF, 0xFF, 0xFF));
    p.setColor(QPalette::ToolTipBase, QColor(0x40, 0x40, 0x40));
    p.setColor(QPalette::ToolTipText, QColor(0xE6, 0xE6, 0xE6));
    p.setColor(QPalette::Mid, QColor(0x55, 0x55, 0x55));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x90, 0x90, 0x90));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x90, 0x90, 0x90));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x90, 0x90, 0x90));
    return p;
}

} // namespace

QStringList renderScreenshots(const QString &folder)
{
    QStringList written;
    QDir().mkpath(folder);
    Harness h;
    auto &port
        = h.sim->addPort(QStringLiteral("COM3"), QStringLiteral("USB Serial Port"), QStringLiteral("FTDI"));
    port.setNoModemLines(true);
    omvara::config::Config settings = Harness::settingsFor(QStringLiteral("COM3"));
    settings.setInstrument(omvara::config::ConfigHelper::Instrument::SARTORIUS);
    settings.setInputTerminator(10);
    settings.setDecimalPlaces(QStringLiteral("2"));
    settings.setDecimalSeparator(omvara::config::ConfigHelper::DecimalSeparator::COMMA);
    settings.setOutputTerminator(omvara::config::ConfigHelper::OutputTerminator::ENTER);
    h.storeSettings(settings);
    if (!h.start({ QStringLiteral("COM3") }))
        return written;
    omvara::RadezoZiDadFrame2 &frame = h.frame();
    frame.resize(920, 580);
    // Laid out and painted like a shown window, without taking the focus
    // (a window with the focus keeps values from being typed).
    frame.setAttribute(Qt::WA_DontShowOnScreen);
    frame.show();

    QTabWidget &tabs = *frame.tabbedPane;
    for (int i = 0; i < tabs.count(); ++i) {
        tabs.setCurrentIndex(i);
        save(frame, folder, QStringLiteral("window-") + tabs.widget(i)->objectName(), written);
    }
    tabs.setCurrentIndex(0);

    omvara::IgnoreDialog ignore(&frame, frame.getConfig());
    ignore.setResults(QStringLiteral("1500"), QStringLiteral("0.5"));
    ignore.setAttribute(Qt::WA_DontShowOnScreen);
    ignore.show();
    save(ignore, folder, QStringLiteral("dialog-ignore"), written);
    ignore.hide();
    omvara::CustomRegExDialog custom(&frame, frame.getConfig());
    custom.regExTextArea->setPlainText(QStringLiteral("^S S\\s+([-0-9.]+)"));
    custom.setAttribute(Qt::WA_DontShowOnScreen);
    custom.show();
    save(custom, folder, QStringLiteral("dialog-custom-pattern"), written);
    custom.hide();

    // "Why?" for a CH340 adapter that brltty claims, of a user not yet in dialout.
    QTemporaryDir systemRoot;
    auto system = std::make_shared<doctor_test::FixtureSystem>(systemRoot.path());
    system->adapter(QStringLiteral("ttyUSB0"), QStringLiteral("1a86"), QStringLiteral("7523"),
        QStringLiteral("ch341-uart"));
    system->file(QStringLiteral("/usr/bin/brltty"));
    system->file(QStringLiteral("/usr/bin/apt-get"));
    system->file(QStringLiteral("/usr/lib/udev/rules.d/85-brltty.rules"),
        "ENV{PRODUCT}==\"1a86/7523/*\", ENV{BRLTTY_BRAILLE_DRIVER}=\"bm\", GOTO=\"brltty_usb_run\"\n");
    system->process(612, QStringLiteral("brltty"));
    system->allowed = false;
    system->me.databaseGroups = { 1000 };
    system->me.sessionGroups = { 1000 };
    omvara::PortDoctorDialog doctor(&frame, QStringLiteral("/dev/ttyUSB0"), system);
    doctor.setAttribute(Qt::WA_DontShowOnScreen);
    doctor.resize(760, 420);
    doctor.show();
    runUntil([&] { return doctor.diagnosis().has_value(); });
    save(doctor, folder, QStringLiteral("dialog-port-doctor"), written);
    doctor.hide();

    // A run: a load that settles, then a reading without a value.
    omvara::RunControl &runs = *h.startup().runControl();
    if (!runs.start() || !runUntil([&] { return runs.isRunning(); }))
        return written;
    if (omvara::outputs::keys::RecordingKeyInjector *keys = h.injector.load())
        keys->moveFocusAfter(0, QStringLiteral("\u201cWeighing log \u2014 Calc\u201d"));
    for (int i = 0; i < 36; ++i) {
        port.feed(record(i));
        settle(std::chrono::milliseconds(60));
    }
    port.feed("    High        \r\n");
    runUntil([&] { return h.injector.load() && !h.injector.load()->events().empty(); });
    settle(std::chrono::milliseconds(400));
    save(frame, folder, QStringLiteral("window-running"), written);
    tabs.setCurrentWidget(frame.eventLogPanel);
    save(frame, folder, QStringLiteral("window-running-log"), written);
    // The same run on a small screen (800x600) and on a dark desktop theme.
    tabs.setCurrentIndex(0);
    frame.resize(800, 600);
    save(frame, folder, QStringLiteral("window-running-800x600"), written);
    const QPalette light = QApplication::palette();
    QApplication::setPalette(darkPalette());
    save(frame, folder, QStringLiteral("window-running-dark"), written);
    tabs.setCurrentWidget(frame.eventLogPanel);
    save(frame, folder, QStringLiteral("window-running-log-dark"), written);
    QApplication::setPalette(light);
    frame.resize(920, 580);
    tabs.setCurrentIndex(0);

    // A value cut when the focus moved to another window after its first
    // three keys: what went where, and the Resume button.
    if (omvara::outputs::keys::RecordingKeyInjector *keys = h.injector.load()) {
        keys->moveFocusAfter(3, QStringLiteral("\u201cOrders \u2014 Mail\u201d"));
        port.feed("+   249.871 g  \r\n");
        runUntil([&] { return frame.runPanel->resumeOffered(); });
        settle(std::chrono::milliseconds(300));
        save(frame, folder, QStringLiteral("window-running-cut"), written);
        tabs.setCurrentWidget(frame.eventLogPanel);
        save(frame, folder, QStringLiteral("window-running-cut-log"), written);
        tabs.setCurrentIndex(0);
    }
    runs.stop();
    runUntil([&] { return !runs.isRunning(); });

    // Readings held until three equal ones have come.
    frame.processingPanel->stableReadingsTextField->setText(QStringLiteral("3"));
    if (runs.start() && runUntil([&] { return runs.isRunning(); })) {
        for (const char *line : { "+   250.012 g  \r\n", "+   250.035 g  \r\n", "+   250.035 g  \r\n" }) {
            port.feed(line);
            settle(std::chrono::milliseconds(80));
        }
        settle(std::chrono::milliseconds(300));
        save(frame, folder, QStringLiteral("window-running-held"), written);
        runs.stop();
        runUntil([&] { return !runs.isRunning(); });
    }
    frame.processingPanel->stableReadingsTextField->setText(QStringLiteral("1"));

    // Last: the window keeps a focus it has been given.
    if (runs.start() && runUntil([&] { return runs.isRunning(); })) {
        // Values arriving while one of Omvara's own windows has the focus (here a
        // small one of its own, given the focus) are not typed, and the panel says so.
        {
            QWidget focused;
            focused.setWindowTitle(QStringLiteral("Omvara"));
            focused.resize(10, 10);
            focused.show();
            focused.activateWindow();
            if (runUntil([] { return QGuiApplication::focusWindow() != nullptr; })) {
                for (int i = 0; i < 3; ++i) {
                    port.feed(record(40 + i));
                    settle(std::chrono::milliseconds(80));
                }
                settle(std::chrono::milliseconds(300));
                save(frame, folder, QStringLiteral("window-running-own-focus"), written);
            }
        }
        runs.stop();
        runUntil([&] { return !runs.isRunning(); });
    }

    QApplication::setPalette(darkPalette());
    save(frame, folder, QStringLiteral("window-stopped-dark"), written);
    QApplication::setPalette(light);
    return written;
}

bool looksRendered(const QImage &image)
{
    if (image.isNull() || image.width() < 50 || image.height() < 50)
        return false;
    QHash<QRgb, int> colours;
    const int stepX = std::max(1, image.width() / 200);
    const int stepY = std::max(1, image.height() / 200);
    int samples = 0;
    for (int y = 0; y < image.height(); y += stepY) {
        for (int x = 0; x < image.width(); x += stepX) {
            ++colours[image.pixel(x, y)];
            ++samples;
        }
    }
    int most = 0;
    for (const int count : colours)
        most = std::max(most, count);
    return colours.size() >= 8 && most < samples * 97 / 100;
}

} // namespace runs_test
