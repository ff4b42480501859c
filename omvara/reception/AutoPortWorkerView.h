// SPDX-License-Identifier: GPL-3.0-or-later
// What automatic port detection reports to.
#pragma once

#include <QString>

namespace omvara::reception {

// What the port detection reports to its dialog (or to the headless runner).
// Called on the event thread only.
class AutoPortWorkerView
{
public:
    enum class MessageStyle { Plain, Emphasised };

    virtual ~AutoPortWorkerView() = default;

    // The dialog's single button reads "Cancel" / "Close".
    virtual void setButtonToCancel() = 0;
    virtual void setButtonToClose() = 0;
    // Selects the detected port in the main window's port list.
    virtual void selectPort(const QString &portName) = 0;
    // Appends the text and a line feed to the message area.
    virtual void appendMessage(const QString &text, MessageStyle style = MessageStyle::Plain) = 0;
};

} // namespace omvara::reception
