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
// Event thread.
class RunPanel : public QWidget
{
    Q_OBJECT

public:
    // The chart keeps this much of the past.
    static constexpr int ChartSeconds = 300;

    explicit RunPanel(QWidget *parent = nullptr);

    // A new run: what it reads, and whether its values are numbers (chart).
    void begin(const QString &port, const QString &instrument, const QString &keyboard, bool numeric);
    // A received line with its value (empty when none).
    void lineReceived(const QDateTime &time, const QString &value);
    // A value that was typed.
    void valueTyped(const QString &value);
    // The run's state: waiting for the device, the outputs.
    void showState(const run::RunState &state);

    // The keys of "omvara.Omvara" the panel reads.
    static QStringList textKeys();

    QString lastValue() const;
    QString countsText() const;
    QString stateText() const;
    // Readings on the chart (tests).
    int chartPoints() const;
    ReadingsChart *chart() const { return m_chart; }

private:
    void updateCounts();

    QLabel *m_value;
    QLabel *m_counts;
    QLabel *m_info;
    QLabel *m_state;
    ReadingsChart *m_chart;
    bool m_numeric = true;
    qint64 m_lines = 0;
    qint64 m_typed = 0;
};

} // namespace omvara
