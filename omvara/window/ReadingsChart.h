// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QChartView>
#include <QDateTime>
#include <QList>
#include <QPen>

class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

namespace omvara {

// The chart of a run's recent numeric readings on the Start/Stop tab.
//  - It keeps the last `seconds` of readings; the time axis spans them (at
//    least half a minute) with as many whole time labels as its width holds.
//  - The value axis ends and is divided on round numbers.
//  - Where the device was away the line has a gap: the readings after it
//    start a new piece of line.
//  - Its colours follow the window's palette (light or dark theme).
//
// Event thread.
class ReadingsChart : public QChartView
{
    Q_OBJECT

public:
    explicit ReadingsChart(int seconds, QWidget *parent = nullptr);

    // Empties the chart for a new run.
    void clear();
    // A reading at `time`.
    void add(const QDateTime &time, double value);
    // The device went away: the next reading begins a new piece of line.
    void breakLine();

    // Readings on the chart, pieces of line, and the value axis's range (tests).
    int points() const;
    int pieces() const;
    double valueMin() const;
    double valueMax() const;
    int timeTicks() const;

protected:
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QLineSeries *newPiece();
    QPen linePen() const;
    void trim(const QDateTime &now);
    void fitTimeTicks();
    void applyPalette();

    int m_seconds;
    QList<QLineSeries *> m_pieces;
    QDateTimeAxis *m_timeAxis;
    QValueAxis *m_valueAxis;
    bool m_broken = false;
};

} // namespace omvara
