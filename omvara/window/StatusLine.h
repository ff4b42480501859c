// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/update/UpdateWorkerView.h"

#include <QObject>
#include <QPointer>
#include <QString>

namespace omvara {

namespace links {
class JLabelHtml;
}

// The window's status line (`statusJLabel`) and the update check's view of it.
//
// The status line belongs to the run while one is active ("switch to the
// target application", then the line count). The update check, which may
// still be working when an automatic start begins, does not overwrite it:
// its texts are held back while running, and when the run stops the line
// shows a pending "update available" notice instead of the normal text.
class StatusLine : public QObject, public update::UpdateWorkerView
{
    Q_OBJECT

public:
    // The label must outlive the StatusLine. Create on the event thread.
    explicit StatusLine(links::JLabelHtml *label, QObject *parent = nullptr);

    // A text of the window itself (run state, line count). Event thread.
    void showText(const QString &text);
    // The label's normal text ("RadezoZiDadFrame2.statusJLabel.text"), or
    // the update notice that arrived during the run.
    void showIdleText();
    // Running: update texts are held back. Event thread.
    void setRunning(bool running);

    // From the update check. Any thread: a call from another thread is
    // handed to the event thread.
    void setStatusText(const QString &text) override;

    QString text() const;

private:
    void applyUpdateText(const QString &text);

    QPointer<links::JLabelHtml> m_label;
    bool m_running = false;
    QString m_updateNotice; // the "update available" text, once known
};

} // namespace omvara
