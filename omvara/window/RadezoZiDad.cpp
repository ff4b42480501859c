// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/RadezoZiDad.h"

#include "omvara/util/ProcessSetup.h"

#include "omvara/util/ProcessProperties.h"
#include "omvara/util/SignalStop.h"
#include "omvara/util/Version.h"
#include "omvara/window/CommandLine.h"
#include "omvara/window/RadezoZiDadFrame2.h"
#include "omvara/window/StartupSequence.h"

#include <QApplication>
#include <QIcon>
#include <QList>
#include <QLocale>
#include <QProcessEnvironment>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

namespace omvara {

namespace {

void refuse(const QString &problem)
{
    std::fprintf(stderr, "omvara: %s\n", qPrintable(problem));
    std::fflush(stderr);
}

// While QApplication connects to the display. When no display can be
// opened (DISPLAY names no server, no platform plugin works), Qt writes
// several lines and aborts the process (status 134); the program says why
// in one line and ends with status 2 instead. Qt's messages meanwhile are
// held back and passed on once the connection stands. Main thread, before
// any other thread exists.
class DisplayConnection
{
public:
    DisplayConnection() { previous() = qInstallMessageHandler(&hold); }
    ~DisplayConnection() { established(); }
    DisplayConnection(const DisplayConnection &) = delete;
    DisplayConnection &operator=(const DisplayConnection &) = delete;

    void established()
    {
        if (!previous())
            return;
        const QtMessageHandler handler = std::exchange(previous(), nullptr);
        qInstallMessageHandler(handler);
        for (const Held &m : held()) {
            const QMessageLogContext context(nullptr, 0, nullptr, m.category.constData());
            handler(m.type, context, m.text);
        }
        held().clear();
    }

private:
    struct Held
    {
        QtMsgType type;
        QByteArray category;
        QString text;
    };
    static QtMessageHandler &previous()
    {
        static QtMessageHandler handler = nullptr;
        return handler;
    }
    static QList<Held> &held()
    {
        static QList<Held> messages;
        return messages;
    }
    static void hold(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (type == QtFatalMsg) {
            // The platform's first word on it names the cause ("could not
            // connect to display :9"); Qt's own closing words are general.
            QString reason = message;
            for (const Held &m : held()) {
                if (m.category.startsWith("qt.qpa")) {
                    reason = m.text;
                    break;
                }
            }
            refuse(QStringLiteral("cannot open the window: ")
                + reason.section(QLatin1Char('\n'), 0, 0).trimmed());
            std::_Exit(2);
        }
        held().append({ type, QByteArray(context.category ? context.category : ""), message });
    }
};

} // namespace

int RadezoZiDad::main(int &argc, char **argv, const QStringList &arguments)
{
    // Nothing opens for a command line the window does not understand, or
    // without a display to open on.
    if (const QString problem = CommandLine::problem(arguments); !problem.isEmpty()) {
        refuse(problem);
        return 2;
    }
    if (!CommandLine::displayGiven(arguments, QProcessEnvironment::systemEnvironment())) {
        refuse(
            QStringLiteral("cannot open the window: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                           "--headless runs without one"));
        return 2;
    }
    util::prepareProcess();
    DisplayConnection connection;
    QApplication app(argc, argv);
    connection.established();
    // The platform's own style is Qt's default: nothing to select. The program ends
    // when its window is closed (after the save), not when a dialog shown
    // before the window closes.
    QApplication::setQuitOnLastWindowClosed(false);
    // Message boxes and buttons take their icons from the desktop's theme; a
    // bare session without one falls back to the theme the package brings.
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));

    std::unique_ptr<StartupSequence> startup;
    bool windowReady = false; // the start-up sequence has run to its end
    // SIGTERM (a session ending, a service manager) and SIGINT end the
    // program as closing the window does: the settings are saved and the
    // port is closed, so that the next program finds it free. One that
    // comes during the start-up sequence ends it without a save (the
    // settings may not be loaded yet).
    util::SignalStop stopSignals(false);
    QObject::connect(&stopSignals, &util::SignalStop::stopRequested, &app, [&startup, &windowReady] {
        if (startup && windowReady)
            startup->shutdown();
        else
            QApplication::exit(0);
    });
    QTimer::singleShot(0, &app, [&] {
        startup = std::make_unique<StartupSequence>(arguments);
        QObject::connect(
            startup.get(), &StartupSequence::closed, &app, [](int status) { QApplication::exit(status); });
        windowReady = startup->run();
    });
    const int status = app.exec();
    startup.reset();
    return status;
}

} // namespace omvara
