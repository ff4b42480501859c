// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/RunPanel.h"

#include "omvara/window/WindowTexts.h"

#include "omvara/window/ReadingsChart.h"

#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace omvara {

namespace {

// A reading as a number: a decimal comma is read as a point.
std::optional<double> numberOf(const QString &value)
{
    bool ok = false;
    const double number = QString(value).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return number;
}

QString outputStatusText(run::RunState::Output::Status status)
{
    using Status = run::RunState::Output::Status;
    switch (status) {
    case Status::Working:
        return WindowTexts::text("run.output.working");
    case Status::Finishing:
        return WindowTexts::text("run.output.finishing");
    case Status::Failed:
        return WindowTexts::text("run.output.failed");
    case Status::Ended:
        return WindowTexts::text("run.output.ended");
    }
    return {};
}

} // namespace

RunPanel::RunPanel(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("runPanel"));
    m_value = new QLabel(this);
    m_value->setObjectName(QStringLiteral("lastValue"));
    m_value->setTextFormat(Qt::PlainText);
    m_value->setAlignment(Qt::AlignCenter);
    m_value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont large = m_value->font();
    large.setPointSizeF(large.pointSizeF() * 2.6);
    large.setBold(true);
    m_value->setFont(large);

    // Long values and texts are cut or wrapped: they never widen the window.
    m_value->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_counts = new QLabel(this);
    m_counts->setObjectName(QStringLiteral("runCounts"));
    m_counts->setWordWrap(true);
    m_counts->setAlignment(Qt::AlignCenter);
    m_info = new QLabel(this);
    m_info->setObjectName(QStringLiteral("runInfo"));
    m_info->setTextFormat(Qt::PlainText);
    m_info->setAlignment(Qt::AlignCenter);
    m_info->setWordWrap(true);
    m_state = new QLabel(this);
    m_state->setObjectName(QStringLiteral("runState"));
    m_state->setTextFormat(Qt::PlainText);
    m_state->setAlignment(Qt::AlignCenter);
    m_state->setWordWrap(true);

    m_chart = new ReadingsChart(ChartSeconds, this);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_value);
    layout->addWidget(m_counts);
    layout->addWidget(m_info);
    layout->addWidget(m_state);
    layout->addWidget(m_chart, 1);
}

void RunPanel::begin(const QString &port, const QString &instrument, const QString &keyboard, bool numeric)
{
    m_numeric = numeric;
    m_lines = 0;
    m_typed = 0;
    m_chart->clear();
    m_value->setText(QStringLiteral("\u2014"));
    m_info->setText(WindowTexts::text("run.info")
                        .replace(QStringLiteral("{0}"), port)
                        .replace(QStringLiteral("{1}"), instrument)
                        .replace(QStringLiteral("{2}"), keyboard.isEmpty() ? WindowTexts::text("run.no.keyboard") : keyboard));
    m_state->clear();
    m_chart->setVisible(numeric);
    updateCounts();
}

void RunPanel::lineReceived(const QDateTime &time, const QString &value)
{
    ++m_lines;
    updateCounts();
    if (!m_numeric || value.isEmpty())
        return;
    const std::optional<double> number = numberOf(value);
    if (!number)
        return;
    m_chart->add(time, *number);
}

void RunPanel::valueTyped(const QString &value)
{
    ++m_typed;
    m_value->setText(value);
    updateCounts();
}

void RunPanel::showState(const run::RunState &state)
{
    QStringList lines;
    if (state.phase == run::RunState::Phase::WaitingForDevice) {
        lines.append(WindowTexts::text("run.waiting.for.device"));
        m_chart->breakLine();
    }
    for (const run::RunState::Output &output : state.outputs) {
        QString line = output.name + QStringLiteral(": ") + outputStatusText(output.status);
        if (!output.detail.isEmpty())
            line += QStringLiteral(" (") + output.detail + QLatin1Char(')');
        lines.append(line);
    }
    m_state->setText(lines.join(QLatin1Char('\n')));
}

void RunPanel::updateCounts()
{
    m_counts->setText(WindowTexts::text("run.counts")
                          .replace(QStringLiteral("{0}"), QString::number(m_typed))
                          .replace(QStringLiteral("{1}"), QString::number(m_lines)));
}

QStringList RunPanel::textKeys()
{
    return {QStringLiteral("run.output.working"), QStringLiteral("run.output.finishing"),
        QStringLiteral("run.output.failed"), QStringLiteral("run.output.ended"), QStringLiteral("run.info"),
        QStringLiteral("run.no.keyboard"), QStringLiteral("run.waiting.for.device"), QStringLiteral("run.counts")};
}

QString RunPanel::lastValue() const
{
    return m_value->text();
}

QString RunPanel::countsText() const
{
    return m_counts->text();
}

QString RunPanel::stateText() const
{
    return m_state->text();
}

int RunPanel::chartPoints() const
{
    return m_chart->points();
}

} // namespace omvara
