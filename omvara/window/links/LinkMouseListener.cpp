// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/links/LinkMouseListener.h"

#include "omvara/window/links/OpenHyperlinkInBrowser.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>

namespace omvara::links {

LinkMouseListener::LinkMouseListener(QObject *parent)
    : QObject(parent)
{
}

void LinkMouseListener::attach(QLabel &label)
{
    label.removeEventFilter(this);
    label.installEventFilter(this);
    label.setCursor(Qt::PointingHandCursor);
}

void LinkMouseListener::detach(QLabel &label)
{
    label.removeEventFilter(this);
    label.unsetCursor();
}

void LinkMouseListener::mouseClicked(const QLabel &label)
{
    const QString text = label.text();
    if (!OpenHyperlinkInBrowser::containsHyperlink(text))
        return;
    OpenHyperlinkInBrowser::openHyperlink(QUrl(OpenHyperlinkInBrowser::getPlainLink(text), QUrl::StrictMode));
}

bool LinkMouseListener::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        auto *label = qobject_cast<QLabel *>(watched);
        if (label && mouse->button() == Qt::LeftButton
            && label->rect().contains(mouse->position().toPoint())) {
            mouseClicked(*label);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace omvara::links
