// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QTextStream;

namespace omvara::modes {

// The command-line options of the settings store:
//   --prefs-file PATH  keep the settings in the shared-format file PATH
//                      (for this run, with or without a window)
//   --export FILE      write the stored settings to FILE as an export
//                      document, as the window's export button does
//   --import FILE      write the entries of the export document FILE into
//                      the store, as the window's import button does
// Both "--option VALUE" and "--option=VALUE" are understood.
//
// Returns the exit status when the arguments asked for --export or --import
// (0 done, 1 failed, with "Import failed" or "Export failed" and the reason
// on `err`; 2 for another option beside them, which is refused before
// anything is read or written) or were malformed (1, with the problem on
// `err`); nothing when the program should go on (only --prefs-file, or no
// store option at all).
// `installationFolder` is where a shared installation's marker file lives.
std::optional<int> runStoreCommands(
    const QStringList &arguments, const QString &installationFolder, QTextStream &out, QTextStream &err);

// The help lines of these options.
QString storeCommandsHelp();

} // namespace omvara::modes
