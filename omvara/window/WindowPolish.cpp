// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/WindowPolish.h"

#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QTextDocument>
#include <QWidget>

namespace omvara {

namespace {

// Follows one control's enabled state with its label.
class LabelFollower : public QObject
{
public:
    LabelFollower(QLabel *label, QWidget *control)
        : QObject(label)
        , m_label(label)
    {
        control->installEventFilter(this);
        label->setEnabled(control->isEnabled());
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::EnabledChange && m_label)
            m_label->setEnabled(static_cast<QWidget *>(watched)->isEnabled());
        return QObject::eventFilter(watched, event);
    }

private:
    QPointer<QLabel> m_label;
};

} // namespace

void wrapToolTips(QWidget *root)
{
    QList<QWidget *> widgets = root->findChildren<QWidget *>();
    widgets.prepend(root);
    for (QWidget *widget : widgets) {
        const QString tip = widget->toolTip();
        if (tip.isEmpty() || Qt::mightBeRichText(tip))
            continue;
        widget->setToolTip(QStringLiteral("<p>") + tip.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>"))
            + QStringLiteral("</p>"));
    }
}

void greyLabelsWithTheirControls(QWidget *root)
{
    for (QLabel *label : root->findChildren<QLabel *>()) {
        if (QWidget *control = label->buddy())
            new LabelFollower(label, control);
    }
}

} // namespace omvara
