// SPDX-License-Identifier: GPL-3.0-or-later
// A label that shows simple HTML with links.
#pragma once

#include <QLabel>

namespace omvara::links {

class LinkMouseListener;

// A label that shows simple HTML and keeps itself linkable: every new text
// goes through OpenHyperlinkInBrowser::makeLinkable, so a status text with a
// link opens the browser when clicked (or shows plain text where links cannot work).
class JLabelHtml : public QLabel
{
    Q_OBJECT

public:
    explicit JLabelHtml(QWidget *parent = nullptr);

    // Replaces QLabel::setText (not virtual there): use this one.
    void setText(const QString &text);

private:
    LinkMouseListener *m_listener;
};

} // namespace omvara::links
