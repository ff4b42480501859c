// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

class QTextBrowser;

namespace omvara {

// The about tab: one line naming the version and platform, then the
// program's description; links open in the standard browser.
class AboutPanel : public QWidget
{
    Q_OBJECT

public:
    explicit AboutPanel(QWidget *parent = nullptr);

    // "Version <VERSION> Qt <version> <PLK_OSNAME> <PLK_OSARCH>".
    static QString versionLine();

    // These member names are text keys: a control's texts in Omvara.properties
    // are "RadezoZiDadFrame2.<member>.text", ".toolTipText", ..., and the name is
    // the control's object name as well. Renaming one breaks its text.
    QTextBrowser *aboutPane;
};

} // namespace omvara
