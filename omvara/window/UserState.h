// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QSettings;

namespace omvara {

// What the window keeps for each user beside the settings, but not among
// them: the window's size and place, and the answer to the question asked
// when the window is closed during a run ("do not ask again").
//
// It lives in the user's own settings folder ("Brindlecote/OmvaraWindow.ini"),
// also when the settings themselves are shared by all users of the machine
// (a file-backed store); it is never exported or imported with them.
// Failures to read or write are silent: the window then opens at its
// default size and asks again.
//
// Event thread.
class UserState
{
public:
    // `iniFile` empty: the user's own store; otherwise that file (tests).
    explicit UserState(const QString &iniFile = QString());
    ~UserState();
    UserState(const UserState &) = delete;
    UserState &operator=(const UserState &) = delete;

    // The window's geometry as QWidget::saveGeometry() gives it; empty when none is kept.
    QByteArray windowGeometry() const;
    void setWindowGeometry(const QByteArray &geometry);

    // The answer given with "Do not ask again" to the question when the
    // window is closed during a run; Ask until then.
    enum class CloseAnswer { Ask, KeepInTray, StopAndQuit };
    CloseAnswer closeAnswer() const;
    void setCloseAnswer(CloseAnswer answer);

    // Writes what was changed.
    void sync();

    QString fileName() const;

private:
    std::unique_ptr<QSettings> m_settings;
};

} // namespace omvara
