// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/RunPanel.h"

#include "omvara/texts/WindowTexts.h"

#include "omvara/window/ReadingsChart.h"

#include <QLabel>
#include <QPushButton>
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
        return texts::WindowTexts::text("run.output.working");
    case Status::Finishing:
        return texts::WindowTexts::text("run.output.finishing");
    case Status::Failed:
        return texts::WindowTexts::text("run.output.failed");
    case Status::Ended:
        return texts::WindowTexts::text("run.output.ended");
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
    // The same large type for what replaces the value; wrapped, so a long
    // window title never widens the window.
    m_notice = new QLabel(this);
    m_notice->setObjectName(QStringLiteral("runNotice"));
    m_notice->setTextFormat(Qt::PlainText);
    m_notice->setAlignment(Qt::AlignCenter);
    m_notice->setWordWrap(true);
    QFont noticeFont = large;
    noticeFont.setPointSizeF(large.pointSizeF() * 0.55);
    m_notice->setFont(noticeFont);
    m_notice->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_notice->hide();
    m_resume = new QPushButton(texts::WindowTexts::text("run.resume"), this);
    m_resume->setObjectName(QStringLiteral("resumeButton"));
    m_resume->setToolTip(texts::WindowTexts::text("run.resume.toolTip"));
    m_resume->hide();
    connect(m_resume, &QPushButton::clicked, this, &RunPanel::resumeRequested);
    m_held = new QLabel(this);
    m_held->setObjectName(QStringLiteral("runHeld"));
    m_held->setTextFormat(Qt::PlainText);
    m_held->setAlignment(Qt::AlignCenter);
    m_held->setWordWrap(true);
    m_held->hide();

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
    layout->addWidget(m_notice);
    layout->addWidget(m_resume, 0, Qt::AlignHCenter);
    layout->addWidget(m_held);
    layout->addWidget(m_counts);
    layout->addWidget(m_info);
    layout->addWidget(m_state);
    layout->addWidget(m_chart, 1);
}

void RunPanel::begin(const QString &port, const QString &instrument, const QString &keyboard, bool numeric,
    const QString &connection)
{
    m_numeric = numeric;
    m_lines = 0;
    m_typed = 0;
    m_notTyped = 0;
    m_heldCount = 0;
    m_cut = 0;
    m_cutShown.reset();
    m_shownState = run::RunState();
    m_droppedForFocus = 0;
    m_held->clear();
    m_held->hide();
    updateNotice();
    m_chart->clear();
    m_value->setText(QStringLiteral("\u2014"));
    m_info->setText(
        (connection.isEmpty()
                ? QString()
                : texts::WindowTexts::text("run.info.connection").replace(QStringLiteral("{0}"), connection))
        + texts::WindowTexts::text("run.info")
              .replace(QStringLiteral("{0}"), port)
              .replace(QStringLiteral("{1}"), instrument)
              .replace(QStringLiteral("{2}"),
                  keyboard.isEmpty() ? texts::WindowTexts::text("run.no.keyboard") : keyboard));
    m_state->clear();
    m_chart->setVisible(numeric && m_chartShown);
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
    m_held->clear();
    m_held->hide();
    updateCounts();
}

void RunPanel::valueNotTyped(bool ownFocus)
{
    ++m_notTyped;
    if (ownFocus && m_ownFocus)
        ++m_droppedForFocus;
    updateCounts();
    updateNotice();
}

void RunPanel::valueHeld(const QString &note)
{
    ++m_heldCount;
    m_held->setText(note);
    m_held->show();
    updateCounts();
}

void RunPanel::valueCut()
{
    ++m_cut;
    updateCounts();
}

void RunPanel::setOwnFocus(bool focused)
{
    m_ownFocus = focused;
    if (!focused)
        m_droppedForFocus = 0;
    updateNotice();
}

void RunPanel::updateNotice()
{
    // A cut first: nothing is typed until the user has looked at the field.
    QString notice;
    if (m_cutShown) {
        const run::RunState::Cut &cut = *m_cutShown;
        notice = texts::WindowTexts::text("run.cut")
                     .replace(QStringLiteral("{0}"), QString::number(cut.typedPart.toUcs4().size()))
                     .replace(QStringLiteral("{1}"), QString::number(cut.value.toUcs4().size()))
                     .replace(QStringLiteral("{2}"), cut.value)
                     .replace(QStringLiteral("{3}"), cut.typedPart)
                     .replace(QStringLiteral("{4}"), cut.window)
                     .replace(QStringLiteral("{5}"), cut.reason);
    } else if (m_ownFocus && m_droppedForFocus > 0) {
        notice = texts::WindowTexts::text("run.own.focus")
                     .replace(QStringLiteral("{0}"), QString::number(m_droppedForFocus));
    }
    m_notice->setText(notice);
    m_notice->setVisible(!notice.isEmpty());
    m_value->setVisible(notice.isEmpty());
    m_resume->setVisible(m_cutShown.has_value());
    showStateLines();
}

void RunPanel::showState(const run::RunState &state)
{
    m_shownState = state;
    if (state.cut != m_cutShown) {
        m_cutShown = state.cut;
        updateNotice();
    }
    showStateLines();
}

void RunPanel::showStateLines()
{
    const run::RunState &state = m_shownState;
    QStringList lines;
    if (state.phase == run::RunState::Phase::WaitingForDevice) {
        lines.append(texts::WindowTexts::text("run.waiting.for.device"));
        m_chart->breakLine();
    }
    for (const run::RunState::Output &output : state.outputs) {
        // A working keyboard that types nothing says why.
        const bool keyboard = output.kind == run::OutputKind::Keyboard
            && output.status == run::RunState::Output::Status::Working;
        const QString status = keyboard && m_cutShown ? texts::WindowTexts::text("run.keyboard.waits")
            : keyboard && m_ownFocus && m_droppedForFocus > 0
            ? texts::WindowTexts::text("run.keyboard.own.focus")
            : outputStatusText(output.status);
        QString line = output.name() + QStringLiteral(": ") + status;
        if (!output.detail.isEmpty())
            line += QStringLiteral(" (") + output.detail + QLatin1Char(')');
        lines.append(line);
    }
    m_state->setText(lines.join(QLatin1Char('\n')));
}

void RunPanel::updateCounts()
{
    m_counts->setText(texts::WindowTexts::text("run.counts")
                          .replace(QStringLiteral("{0}"), QString::number(m_typed))
                          .replace(QStringLiteral("{1}"), QString::number(m_lines))
                          .replace(QStringLiteral("{2}"), QString::number(m_notTyped))
                          .replace(QStringLiteral("{3}"), QString::number(m_heldCount))
                          .replace(QStringLiteral("{4}"), QString::number(m_cut)));
}

void RunPanel::setChartShown(bool shown)
{
    m_chartShown = shown;
    m_chart->setVisible(m_numeric && shown);
}

QStringList RunPanel::textKeys()
{
    return { QStringLiteral("run.info.connection"), QStringLiteral("run.output.working"),
        QStringLiteral("run.output.finishing"), QStringLiteral("run.output.failed"),
        QStringLiteral("run.output.ended"), QStringLiteral("run.info"), QStringLiteral("run.no.keyboard"),
        QStringLiteral("run.waiting.for.device"), QStringLiteral("run.counts"), QStringLiteral("run.cut"),
        QStringLiteral("run.own.focus"), QStringLiteral("run.resume"), QStringLiteral("run.resume.toolTip"),
        QStringLiteral("run.keyboard.waits"), QStringLiteral("run.keyboard.own.focus") };
}

QString RunPanel::lastValue() const
{
    return m_value->text();
}

QString RunPanel::noticeText() const
{
    return m_notice->text();
}

QString RunPanel::heldText() const
{
    return m_held->text();
}

bool RunPanel::resumeOffered() const
{
    return m_cutShown.has_value() && !m_resume->isHidden();
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
