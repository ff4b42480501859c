// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/run/RunState.h"

#include <QDateTime>
#include <QWidget>

class QLabel;
class QPushButton;

namespace omvara {

class ReadingsChart;

// What a run is doing, on the Start/Stop tab beside the Stop button: the
// last typed value (large), the counts, port, instrument and keyboard
// backend, the run's state and each output's, and a chart of the recent
// numeric readings (text instruments show the last code instead).
//
// In place of the last typed value it says, in the same large type, when
// that value is no longer what happens: a value was cut (how much of it went
// into which window, with a Resume button), or values are not typed because
// Omvara's own window has the keyboard focus (with their count). Readings
// the settled-readings filter holds are told below it.
//
// Event thread.
class RunPanel : public QWidget
{
    Q_OBJECT

public:
    // The chart keeps this much of the past.
    static constexpr int ChartSeconds = 300;

    explicit RunPanel(QWidget *parent = nullptr);

    // A new run: what it reads, and whether its values are numbers (chart).
    // `connection`: the connection's name, shown when there are several.
    void begin(const QString &port, const QString &instrument, const QString &keyboard, bool numeric,
        const QString &connection = {});
    // A received line with its value (empty when none).
    void lineReceived(const QDateTime &time, const QString &value);
    // A value that was typed.
    void valueTyped(const QString &value);
    // What became of a value that was not typed: counted; a held one is told
    // with `note` ("held: waiting for 3 equal readings ...") until the next
    // value is typed. `ownFocus`: one of the program's windows had the focus.
    void valueNotTyped(bool ownFocus);
    void valueHeld(const QString &note);
    void valueCut();
    // The program's own window has the keyboard focus (or no longer).
    void setOwnFocus(bool focused);
    // The run's state: waiting for the device, the outputs.
    void showState(const run::RunState &state);
    // Whether the chart is shown (for numeric readings): of several running
    // panels, only the selected connection's has it.
    void setChartShown(bool shown);

    // The keys of "omvara.Omvara" the panel reads.
    static QStringList textKeys();

    QString lastValue() const;
    // The large notice in place of the last value; empty when none.
    QString noticeText() const;
    QString heldText() const;
    bool resumeOffered() const;
    QString countsText() const;
    QString stateText() const;
    // Readings on the chart (tests).
    int chartPoints() const;
    ReadingsChart *chart() const { return m_chart; }

Q_SIGNALS:
    // The Resume button after a cut.
    void resumeRequested();

private:
    void updateCounts();
    void updateNotice();
    void showStateLines();

    QLabel *m_value;
    QLabel *m_notice; // in place of m_value while there is something to say
    QPushButton *m_resume;
    QLabel *m_held;
    QLabel *m_counts;
    QLabel *m_info;
    QLabel *m_state;
    ReadingsChart *m_chart;
    bool m_numeric = true;
    bool m_chartShown = true;
    qint64 m_lines = 0;
    qint64 m_typed = 0;
    qint64 m_notTyped = 0;
    qint64 m_heldCount = 0;
    qint64 m_cut = 0;
    std::optional<run::RunState::Cut> m_cutShown;
    run::RunState m_shownState;
    bool m_ownFocus = false;
    qint64 m_droppedForFocus = 0; // since the program's window has had the focus
};

} // namespace omvara
