// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

namespace runs_test {

// Renders the pictures the README and the user guide show into `folder`:
// every tab of the main window, the window during a run with its chart and
// log, and the main dialogs. A simulated balance on a simulated port feeds
// the run; keys go to a recorder. Returns the files written.
QStringList renderScreenshots(const QString &folder);

// True when a picture shows something: several colours, and no single
// colour covering nearly all of it.
bool looksRendered(const QImage &image);

} // namespace runs_test
