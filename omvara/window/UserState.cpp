// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/UserState.h"

#include <QSettings>

namespace omvara {

namespace {

const QString GeometryKey = QStringLiteral("window/geometry");
const QString CloseAnswerKey = QStringLiteral("close/answer");
const QString KeepInTrayValue = QStringLiteral("keepInTray");
const QString StopAndQuitValue = QStringLiteral("stopAndQuit");

} // namespace

UserState::UserState(const QString &iniFile)
    : m_settings(iniFile.isEmpty() ? std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                     QStringLiteral("Brindlecote"), QStringLiteral("OmvaraWindow"))
                                   : std::make_unique<QSettings>(iniFile, QSettings::IniFormat))
{
}

UserState::~UserState()
{
    sync();
}

QByteArray UserState::windowGeometry() const
{
    return m_settings->value(GeometryKey).toByteArray();
}

void UserState::setWindowGeometry(const QByteArray &geometry)
{
    m_settings->setValue(GeometryKey, geometry);
}

UserState::CloseAnswer UserState::closeAnswer() const
{
    const QString value = m_settings->value(CloseAnswerKey).toString();
    if (value == KeepInTrayValue)
        return CloseAnswer::KeepInTray;
    if (value == StopAndQuitValue)
        return CloseAnswer::StopAndQuit;
    return CloseAnswer::Ask;
}

void UserState::setCloseAnswer(CloseAnswer answer)
{
    switch (answer) {
    case CloseAnswer::Ask:
        m_settings->remove(CloseAnswerKey);
        break;
    case CloseAnswer::KeepInTray:
        m_settings->setValue(CloseAnswerKey, KeepInTrayValue);
        break;
    case CloseAnswer::StopAndQuit:
        m_settings->setValue(CloseAnswerKey, StopAndQuitValue);
        break;
    }
}

void UserState::sync()
{
    m_settings->sync();
}

QString UserState::fileName() const
{
    return m_settings->fileName();
}

} // namespace omvara
