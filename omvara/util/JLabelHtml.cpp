// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/util/JLabelHtml.h"

#include "omvara/util/LinkMouseListener.h"
#include "omvara/util/OpenHyperlinkInBrowser.h"

namespace omvara::util {

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

} // namespace omvara::util
