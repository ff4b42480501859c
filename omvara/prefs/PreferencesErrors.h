// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <stdexcept>

namespace omvara::prefs {

// Every failure of the preferences interface carries a message text meant
// for the user (shown after "Import failed\n", "export.failed" and so on).
class PreferencesError : public std::runtime_error
{
public:
    explicit PreferencesError(const QString &message)
        : std::runtime_error(message.toStdString())
        , text(message)
    {
    }
    QString message() const { return text; }

private:
    QString text;
};

// The storage behind the tree could not be read or written.
class BackingStoreError : public PreferencesError
{
public:
    using PreferencesError::PreferencesError;
};

// An imported document is not a preferences export document.
class InvalidPreferencesFormatError : public PreferencesError
{
public:
    using PreferencesError::PreferencesError;
};

// The interface refused an access: a key, value or node name it cannot hold,
// or an operation on a node that has been removed.
class PreferencesRefusedError : public PreferencesError
{
public:
    using PreferencesError::PreferencesError;
};

} // namespace omvara::prefs
