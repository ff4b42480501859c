// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/ReadingsChart.h"

#include "omvara/window/Contrast.h"

#include <QChart>
#include <QDateTimeAxis>
#include <QEvent>
#include <QLineSeries>
#include <QPen>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace omvara {

namespace {

const QString TimeFormat = QStringLiteral("HH:mm:ss");

} // namespace

ReadingsChart::ReadingsChart(int seconds, QWidget *parent)
    : QChartView(new QChart(), parent)
    , m_seconds(seconds)
    , m_timeAxis(new QDateTimeAxis())
    , m_valueAxis(new QValueAxis())
{
    setObjectName(QStringLiteral("readingsChart"));
    setRenderHint(QPainter::Antialiasing);
    setMinimumHeight(140);
    QChart *c = chart();
    c->legend()->hide();
    c->setMargins(QMargins(2, 2, 2, 2));
    c->setBackgroundRoundness(0);
    m_timeAxis->setFormat(TimeFormat);
    m_valueAxis->setLabelFormat(QStringLiteral("%g"));
    c->addAxis(m_timeAxis, Qt::AlignBottom);
    c->addAxis(m_valueAxis, Qt::AlignLeft);
    newPiece();
    applyPalette();
    clear();
    // As many time labels as the plot, once laid out, has room for.
    connect(c, &QChart::plotAreaChanged, this, [this] { fitTimeTicks(); });
}

QLineSeries *ReadingsChart::newPiece()
{
    auto *piece = new QLineSeries();
    chart()->addSeries(piece);
    piece->attachAxis(m_timeAxis);
    piece->attachAxis(m_valueAxis);
    piece->setPen(linePen());
    m_pieces.append(piece);
    return piece;
}

void ReadingsChart::clear()
{
    while (m_pieces.size() > 1) {
        QLineSeries *piece = m_pieces.takeFirst();
        chart()->removeSeries(piece);
        delete piece;
    }
    m_pieces.first()->clear();
    m_broken = false;
    const QDateTime now = QDateTime::currentDateTime();
    m_timeAxis->setRange(now.addSecs(-m_seconds), now);
    m_valueAxis->setRange(0, 1);
    fitTimeTicks();
}

void ReadingsChart::add(const QDateTime &time, double value)
{
    QLineSeries *piece = m_pieces.last();
    if (m_broken) {
        m_broken = false;
        if (piece->count() > 0)
            piece = newPiece();
    }
    piece->append(double(time.toMSecsSinceEpoch()), value);
    trim(time);
}

void ReadingsChart::breakLine()
{
    m_broken = true;
}

void ReadingsChart::trim(const QDateTime &now)
{
    const double oldest = double(now.addSecs(-m_seconds).toMSecsSinceEpoch());
    for (QLineSeries *piece : std::as_const(m_pieces)) {
        int drop = 0;
        while (drop < piece->count() && piece->at(drop).x() < oldest)
            ++drop;
        if (drop > 0)
            piece->removePoints(0, drop);
    }
    // Pieces that have scrolled out of the chart go; the last one stays.
    while (m_pieces.size() > 1 && m_pieces.first()->count() == 0) {
        QLineSeries *piece = m_pieces.takeFirst();
        chart()->removeSeries(piece);
        delete piece;
    }
    // The axis spans the readings there are, up to the chart's length, and
    // at least half a minute.
    double first = 0;
    double low = 0;
    double high = 0;
    bool any = false;
    for (const QLineSeries *piece : std::as_const(m_pieces)) {
        for (int i = 0; i < piece->count(); ++i) {
            const QPointF p = piece->at(i);
            if (!any) {
                first = p.x();
                low = high = p.y();
                any = true;
            }
            low = std::min(low, p.y());
            high = std::max(high, p.y());
        }
    }
    if (!any)
        return;
    m_timeAxis->setRange(std::min(QDateTime::fromMSecsSinceEpoch(qint64(first)), now.addSecs(-30)), now);
    const double margin = high > low ? (high - low) * 0.1 : std::max(1.0, std::abs(high) * 0.05);
    m_valueAxis->setRange(low - margin, high + margin);
    // Ends and ticks on round numbers (110, 112, ... rather than 110.673).
    m_valueAxis->applyNiceNumbers();
}

void ReadingsChart::fitTimeTicks()
{
    // Room for each whole label and a gap: a label cut to "15:48…" says nothing.
    const QFontMetrics metrics(m_timeAxis->labelsFont());
    const int label = metrics.horizontalAdvance(QStringLiteral("00:00:00")) * 5 / 4;
    const qreal plot = chart()->plotArea().width() > 0 ? chart()->plotArea().width() : width() * 0.8;
    const int ticks = std::clamp(int(plot / std::max(1, label)), 2, 6);
    if (ticks != m_timeAxis->tickCount())
        m_timeAxis->setTickCount(ticks);
}

void ReadingsChart::resizeEvent(QResizeEvent *event)
{
    QChartView::resizeEvent(event);
    fitTimeTicks();
}

void ReadingsChart::changeEvent(QEvent *event)
{
    QChartView::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyPalette();
}

void ReadingsChart::applyPalette()
{
    const QPalette p = palette();
    const QColor base = p.color(QPalette::Base);
    const QColor text = readableOn(p.color(QPalette::Text), base);
    QChart *c = chart();
    c->setBackgroundBrush(base);
    c->setPlotAreaBackgroundVisible(false);
    setBackgroundBrush(p.color(QPalette::Window));
    QColor grid = p.color(QPalette::Mid);
    for (QAbstractAxis *axis :
        { static_cast<QAbstractAxis *>(m_timeAxis), static_cast<QAbstractAxis *>(m_valueAxis) }) {
        axis->setLabelsBrush(text);
        axis->setLinePenColor(text);
        axis->setGridLineColor(grid);
        axis->setTitleBrush(text);
    }
    for (QLineSeries *piece : std::as_const(m_pieces))
        piece->setPen(linePen());
}

QPen ReadingsChart::linePen() const
{
    // The theme's highlight colour, kept apart from the background.
    QPen pen(readableOn(palette().color(QPalette::Highlight), palette().color(QPalette::Base), 3.0));
    pen.setWidthF(1.5);
    return pen;
}

int ReadingsChart::points() const
{
    int n = 0;
    for (const QLineSeries *piece : m_pieces)
        n += piece->count();
    return n;
}

int ReadingsChart::pieces() const
{
    int n = 0;
    for (const QLineSeries *piece : m_pieces)
        n += piece->count() > 0 ? 1 : 0;
    return n;
}

double ReadingsChart::valueMin() const
{
    return m_valueAxis->min();
}

double ReadingsChart::valueMax() const
{
    return m_valueAxis->max();
}

int ReadingsChart::timeTicks() const
{
    return m_timeAxis->tickCount();
}

} // namespace omvara
