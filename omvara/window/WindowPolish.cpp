// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/WindowPolish.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRegularExpression>
#include <QTextDocument>
#include <QTextEdit>
#include <QWidget>

#include <algorithm>

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

// The widgets `layout` holds, in reading order, with those of the layouts
// and container widgets inside it.
void inReadingOrder(QLayout *layout, QList<QWidget *> &out);

void widgetInReadingOrder(QWidget *widget, QList<QWidget *> &out)
{
    if (!widget || widget->isWindow())
        return;
    out.append(widget);
    // Group boxes and other containers with a layout of their own; compound
    // controls (a combo box with its entry field) have none and stay whole.
    if (QLayout *inner = widget->layout())
        inReadingOrder(inner, out);
}

void inReadingOrder(QLayout *layout, QList<QWidget *> &out)
{
    struct Placed
    {
        int row;
        int column;
        QLayoutItem *item;
    };
    QList<Placed> items;
    auto *grid = qobject_cast<QGridLayout *>(layout);
    for (int i = 0; i < layout->count(); ++i) {
        int row = 0;
        int column = i;
        if (grid) {
            int rowSpan = 0;
            int columnSpan = 0;
            grid->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
        }
        items.append({ row, column, layout->itemAt(i) });
    }
    std::stable_sort(items.begin(), items.end(), [](const Placed &a, const Placed &b) {
        return a.row != b.row ? a.row < b.row : a.column < b.column;
    });
    for (const Placed &placed : items) {
        if (QWidget *widget = placed.item->widget())
            widgetInReadingOrder(widget, out);
        else if (QLayout *inner = placed.item->layout())
            inReadingOrder(inner, out);
    }
}

bool takesTabFocus(const QWidget *widget)
{
    return (widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy();
}

// Controls that show no name of their own (buttons and check boxes show their text).
bool needsLabelName(const QWidget *widget)
{
    return qobject_cast<const QComboBox *>(widget) || qobject_cast<const QLineEdit *>(widget)
        || qobject_cast<const QAbstractSpinBox *>(widget) || qobject_cast<const QPlainTextEdit *>(widget)
        || qobject_cast<const QTextEdit *>(widget);
}

// A label's text as a name: plain, without its mnemonic mark and closing colon.
QString labelName(const QLabel *label)
{
    QString name = plainText(label->text()).simplified();
    name.remove(QRegularExpression(QStringLiteral("&(?=[^&])")));
    while (name.endsWith(QLatin1Char(':')))
        name.chop(1);
    return name.trimmed();
}

} // namespace

QString plainText(const QString &text)
{
    if (!Qt::mightBeRichText(text))
        return text;
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText().trimmed();
}

void orderTabsByLayout(QWidget *page)
{
    if (!page || !page->layout())
        return;
    QList<QWidget *> widgets;
    inReadingOrder(page->layout(), widgets);
    QWidget *previous = nullptr;
    for (QWidget *widget : std::as_const(widgets)) {
        if (!takesTabFocus(widget))
            continue;
        if (previous)
            QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

void plainAccessibleTexts(QWidget *root)
{
    QList<QWidget *> widgets = root->findChildren<QWidget *>();
    widgets.prepend(root);
    for (QWidget *widget : std::as_const(widgets)) {
        const QString tip = widget->toolTip();
        if (!tip.isEmpty() && widget->accessibleDescription().isEmpty())
            widget->setAccessibleDescription(plainText(tip));
    }
    // Nameless entry fields after the label that stands before them.
    QList<QWidget *> ordered;
    if (root->layout())
        inReadingOrder(root->layout(), ordered);
    const QLabel *lastLabel = nullptr;
    for (QWidget *widget : std::as_const(ordered)) {
        if (auto *label = qobject_cast<QLabel *>(widget)) {
            if (!label->text().isEmpty())
                lastLabel = label;
            continue;
        }
        const QLabel *own = nullptr;
        for (const QLabel *label : root->findChildren<QLabel *>())
            if (label->buddy() == widget)
                own = label;
        if (needsLabelName(widget) && widget->accessibleName().isEmpty() && !own && lastLabel)
            widget->setAccessibleName(labelName(lastLabel));
        // The entry field inside an editable list box answers for the box.
        if (auto *box = qobject_cast<QComboBox *>(widget);
            box && box->lineEdit() && box->lineEdit()->accessibleName().isEmpty()) {
            const QString name = !box->accessibleName().isEmpty() ? box->accessibleName()
                : own                                             ? labelName(own)
                : lastLabel                                       ? labelName(lastLabel)
                                                                  : QString();
            box->lineEdit()->setAccessibleName(name);
        }
    }
}

void wrapToolTips(QWidget *root)
{
    QList<QWidget *> widgets = root->findChildren<QWidget *>();
    widgets.prepend(root);
    for (QWidget *widget : widgets) {
        const QString tip = widget->toolTip();
        if (tip.isEmpty() || Qt::mightBeRichText(tip))
            continue;
        widget->setToolTip(QStringLiteral("<p>")
            + tip.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>"))
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
