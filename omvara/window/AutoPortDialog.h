// SPDX-License-Identifier: GPL-3.0-or-later
// The dialog that shows automatic port detection.
#pragma once

#include "omvara/reception/AutoPortWorker.h"

#include <QDialog>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

class QPushButton;
class QTextEdit;

namespace omvara {

// Shows the progress of automatic port detection and its result. Creating
// the dialog starts the detection at once; its single button cancels the
// detection while it runs and closes the dialog afterwards. The detected
// port is selected in the main window's port list through `selectInPortList`.
class AutoPortDialog : public QDialog, public reception::AutoPortWorkerView
{
    Q_OBJECT

public:
    using PortSelector = std::function<void(const QString &portName)>;

    // `sleeper` replaces the detection's pauses (tests); empty: real pauses.
    AutoPortDialog(QWidget *owner, const QStringList &portNames, PortSelector selectInPortList,
        reception::AutoPortWorker::Sleeper sleeper = {});
    ~AutoPortDialog() override;

    void setButtonToCancel() override;
    void setButtonToClose() override;
    // Selects the port's display name (or the bare name) in the port list.
    void selectPort(const QString &portName) override;
    void appendMessage(const QString &text, MessageStyle style = MessageStyle::Plain) override;

    bool isDetectionRunning() const;
    // The messages shown so far, as plain text.
    QString messages() const;

    QTextEdit *messageArea;
    QPushButton *button;

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    void buttonActionPerformed();
    void cancelDetection();

    PortSelector selectInPortList;
    std::unique_ptr<reception::AutoPortWorker> worker;
};

} // namespace omvara
