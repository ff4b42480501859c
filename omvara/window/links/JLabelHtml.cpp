// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/links/JLabelHtml.h"

#include "omvara/window/links/LinkMouseListener.h"
#include "omvara/window/links/OpenHyperlinkInBrowser.h"

namespace omvara::links {

JLabelHtml::JLabelHtml(QWidget *parent)
    : QLabel(parent)
    , m_listener(new LinkMouseListener(this))
{
    setTextFormat(Qt::RichText);
    OpenHyperlinkInBrowser::makeLinkable(*this, *m_listener);
}

void JLabelHtml::setText(const QString &text)
{
    QLabel::setText(text);
    OpenHyperlinkInBrowser::makeLinkable(*this, *m_listener);
}

} // namespace omvara::links
