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
// Several things want the one line; it shows the most important of them:
//  1. a problem: a run that ended by an error or because the device went away
//     (why and when, until the next Start), or keyboard output that failed;
//  2. waiting for a lost device;
//  3. an output in trouble (record file, broker);
//  4. the run's own text ("switch to the target application", the counts);
//  5. the update check's texts (held back while a run is active; a pending
//     "update available" notice shows when it stops), else the normal text.
class StatusLine : public QObject, public update::UpdateWorkerView
{
    Q_OBJECT

public:
    // The label must outlive the StatusLine. Create on the event thread.
    explicit StatusLine(links::JLabelHtml *label, QObject *parent = nullptr);

    enum class Slot { Problem, Waiting, Output, Run };
    // Sets (or with an empty text clears) one of the texts that want the line. Event thread.
    void setText(Slot slot, const QString &text);
    QString slotText(Slot slot) const { return m_slots[int(slot)]; }
    // The run's own text (slot Run). Event thread.
    void showText(const QString &text) { setText(Slot::Run, text); }
    // Clears the run's own text: the line shows what remains, else the
    // normal text ("RadezoZiDadFrame2.statusJLabel.text") or the update
    // notice that arrived during the run.
    void showIdleText() { setText(Slot::Run, {}); }
    // Running: update texts are held back. Event thread.
    void setRunning(bool running);

    // From the update check. Any thread: a call from another thread is
    // handed to the event thread.
    void setStatusText(const QString &text) override;

    QString text() const;

private:
    void applyUpdateText(const QString &text);
    void refresh();

    QPointer<links::JLabelHtml> m_label;
    bool m_running = false;
    QString m_slots[4];
    QString m_updateText; // the update check's latest text, while no run is active
    QString m_updateNotice; // the "update available" text, once known
};

} // namespace omvara
