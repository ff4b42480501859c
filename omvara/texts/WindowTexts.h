// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

namespace omvara::texts {

// The texts of the window and its dialogs, bundle "omvara.Omvara".
class WindowTexts
{
public:
    WindowTexts() = delete;
    static constexpr const char *BundleName = "omvara.Omvara";

    // The text of a key; throws util::MissingResourceError for a missing key.
    static QString text(const QString &key);
    static QString text(const char *key) { return text(QString::fromLatin1(key)); }
    // The text with {0} replaced by the argument.
    static QString format(const char *key, const QString &arg0);

    // Every key the controls, dialogs and settings handling read (the
    // start-up check of the bundles uses it).
    static QStringList requiredKeys();
};

} // namespace omvara::texts
