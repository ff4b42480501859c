// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/RadezoZiDad.h"

#include "omvara/window/RadezoZiDadFrame2.h"
#include "omvara/window/StartupSequence.h"
#include "omvara/util/Version.h"
#include "omvara/util/ProcessProperties.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <QTimer>

#include <memory>

namespace omvara {

void RadezoZiDad::prepareProcess()
{
    // Every text, number and date in English, whatever the machine's locale.
    QLocale::setDefault(QLocale(QLocale::English));
    util::ProcessProperties::set(QStringLiteral("VERSION"), util::programVersion());
    // The serial layer's tables are used in their first row on every system.
    util::ProcessProperties::set(QStringLiteral("PLK_OSNAME"), QStringLiteral("Windows"));
    util::ProcessProperties::set(QStringLiteral("PLK_OSARCH"), QStringLiteral("x86"));
}

int RadezoZiDad::main(int &argc, char **argv, const QStringList &arguments)
{
    prepareProcess();
    QApplication app(argc, argv);
    // The platform's own style is Qt's default: nothing to select. The program ends
    // when its window is closed (after the save), not when a dialog shown
    // before the window closes.
    QApplication::setQuitOnLastWindowClosed(false);
    // Message boxes and buttons take their icons from the desktop's theme; a
    // bare session without one falls back to the theme the package brings.
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));

    std::unique_ptr<StartupSequence> startup;
    QTimer::singleShot(0, &app, [&] {
        startup = std::make_unique<StartupSequence>(arguments);
        QObject::connect(startup.get(), &StartupSequence::closed, &app, [](int status) { QApplication::exit(status); });
        startup->run();
    });
    const int status = app.exec();
    startup.reset();
    return status;
}

} // namespace omvara
