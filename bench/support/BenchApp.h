// SPDX-License-Identifier: GPL-3.0-or-later
// What the benchmark programs share: the quiet application a run needs, and
// processor time by clock.
#pragma once

#include "omvara/util/ProcessProperties.h"
#include "portlink/Console.h"

#include <QCoreApplication>

#include <time.h>

namespace bench {

// The program's application, made once, with the serial layer's banner silenced.
inline QCoreApplication &app()
{
    static int argc = 1;
    static char name[] = "omvara_bench";
    static char *argv[] = { name, nullptr };
    static QCoreApplication *instance = [] {
        omvara::util::ProcessProperties::set(QStringLiteral("PLK_OSNAME"), QStringLiteral("Windows"));
        omvara::util::ProcessProperties::set(QStringLiteral("PLK_OSARCH"), QStringLiteral("x86"));
        portlink::Console::setSink([](const QString &) {});
        return new QCoreApplication(argc, argv);
    }();
    return *instance;
}

// Processor time of `clock` (process or thread) in seconds.
inline double cpuSeconds(clockid_t clock)
{
    timespec ts {};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

} // namespace bench
