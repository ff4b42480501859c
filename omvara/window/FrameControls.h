// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/texts/WindowTexts.h"

#include <QLabel>

// Helpers the tabs of the main window share to name their controls and take
// their texts from the keys "RadezoZiDadFrame2.<member>.<property>".
namespace omvara::FrameControls {

inline QString key(const char *member, const char *property)
{
    return QStringLiteral("RadezoZiDadFrame2.%1.%2").arg(QLatin1String(member), QLatin1String(property));
}

inline QString text(const char *member, const char *property = "text")
{
    return texts::WindowTexts::text(key(member, property));
}

// A label with the member's text, bound to `buddy` when given.
inline QLabel *label(const char *member, QWidget *buddy, QWidget *parent, const char *property = "text")
{
    auto *l = new QLabel(text(member, property), parent);
    l->setObjectName(QLatin1String(member));
    if (buddy)
        l->setBuddy(buddy);
    return l;
}

// Names the control after its member and, when asked, gives it the member's tooltip.
template <typename W> W *named(W *widget, const char *member, bool toolTip = true)
{
    widget->setObjectName(QLatin1String(member));
    if (toolTip)
        widget->setToolTip(text(member, "toolTipText"));
    return widget;
}

} // namespace omvara::FrameControls
