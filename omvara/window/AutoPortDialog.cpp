// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/AutoPortDialog.h"

#include "portlink/FriendlyPortUtil.h"

#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QPushButton>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>

namespace omvara {

AutoPortDialog::AutoPortDialog(QWidget *owner, const QStringList &portNames, PortSelector selector,
    reception::AutoPortWorker::Sleeper sleeper)
    : QDialog(owner)
    , selectInPortList(std::move(selector))
{
    setObjectName(QStringLiteral("AutoPortDialog"));
    setWindowTitle(QStringLiteral("Auto-detect port"));

    messageArea = new QTextEdit(this);
    messageArea->setObjectName(QStringLiteral("messageArea"));
    messageArea->setReadOnly(true);
    messageArea->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    button = new QPushButton(this);
    button->setObjectName(QStringLiteral("button"));
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(button, QDialogButtonBox::ActionRole);

    auto *column = new QVBoxLayout(this);
    column->addWidget(messageArea, 1);
    column->addWidget(buttons);
    resize(460, 320);

    connect(button, &QPushButton::clicked, this, &AutoPortDialog::buttonActionPerformed);

    setButtonToCancel();
    worker = std::make_unique<reception::AutoPortWorker>(portNames, *this);
    if (sleeper)
        worker->setSleeper(std::move(sleeper));
    worker->execute();
}

AutoPortDialog::~AutoPortDialog()
{
    // The worker's destructor waits for its thread; done() is not called any more.
    cancelDetection();
    worker.reset();
}

void AutoPortDialog::setButtonToCancel()
{
    button->setText(QStringLiteral("Cancel"));
}

void AutoPortDialog::setButtonToClose()
{
    button->setText(QStringLiteral("Close"));
}

void AutoPortDialog::selectPort(const QString &portName)
{
    if (selectInPortList)
        selectInPortList(portlink::FriendlyPortUtil::getFriendlyPortName(portName));
}

void AutoPortDialog::appendMessage(const QString &text, MessageStyle style)
{
    QTextCursor cursor(messageArea->document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    if (style == MessageStyle::Emphasised) {
        format.setFontWeight(QFont::Bold);
        format.setForeground(QColor(0x00, 0x55, 0xaa));
    }
    cursor.insertText(text + QLatin1Char('\n'), format);
    messageArea->setTextCursor(cursor);
    messageArea->ensureCursorVisible();
}

bool AutoPortDialog::isDetectionRunning() const
{
    return worker && !worker->isDone();
}

QString AutoPortDialog::messages() const
{
    return messageArea->toPlainText();
}

void AutoPortDialog::buttonActionPerformed()
{
    if (isDetectionRunning()) {
        cancelDetection();
        setButtonToClose();
        return;
    }
    hide();
    close();
}

void AutoPortDialog::cancelDetection()
{
    if (worker && !worker->isDone())
        worker->cancel(true);
}

void AutoPortDialog::closeEvent(QCloseEvent *event)
{
    cancelDetection();
    QDialog::closeEvent(event);
}

void AutoPortDialog::reject()
{
    cancelDetection();
    QDialog::reject();
}

} // namespace omvara
