// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <exception>

namespace omvara::texts {

// The texts of the workers' bundle "omvara.worker.WorkerBundle".
class WorkerTexts
{
public:
    static constexpr const char *BundleName = "omvara.worker.WorkerBundle";

    // The text of `key`; throws MissingResourceError when it is missing.
    static QString text(const char *key);
    // `pattern` with each "%s" replaced by the next argument, in order.
    static QString format(const QString &pattern, const QStringList &args);
    // An error's text form: its kind (class name without namespaces), ": " and its message.
    static QString errorText(const std::exception &error);
    // Every key the reception and detection workers read (start-up checks them).
    static QStringList keys();
};

} // namespace omvara::texts
