// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/StatusLine.h"

#include "omvara/update/UpdateWorker.h"
#include "omvara/util/Bundle.h"

#include "omvara/window/links/JLabelHtml.h"

#include <QMetaObject>
#include <QThread>

namespace omvara {

namespace {

QString normalText()
{
    return util::Bundle::get(QStringLiteral("omvara.Omvara"))
        .getString(QStringLiteral("RadezoZiDadFrame2.statusJLabel.text"));
}

} // namespace

StatusLine::StatusLine(links::JLabelHtml *label, QObject *parent)
    : QObject(parent)
    , m_label(label)
{
}

void StatusLine::setText(Slot slot, const QString &text)
{
    m_slots[int(slot)] = text;
    refresh();
}

void StatusLine::refresh()
{
    if (!m_label)
        return;
    for (const QString &text : m_slots) {
        if (!text.isEmpty()) {
            m_label->setText(text);
            return;
        }
    }
    if (!m_updateNotice.isEmpty())
        m_label->setText(m_updateNotice);
    else if (!m_updateText.isEmpty())
        m_label->setText(m_updateText);
    else
        m_label->setText(normalText());
}

void StatusLine::setRunning(bool running)
{
    m_running = running;
    if (running)
        m_updateText.clear(); // a check's passing text ("checking ...") is old news by the run's end
}

void StatusLine::setStatusText(const QString &text)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, text] { applyUpdateText(text); }, Qt::QueuedConnection);
        return;
    }
    applyUpdateText(text);
}

void StatusLine::applyUpdateText(const QString &text)
{
    if (text == update::UpdateWorker::updateAvailableText())
        m_updateNotice = text;
    if (m_running)
        return;
    // The check's texts stand only until it ends with the normal text.
    m_updateText = text == normalText() ? QString() : text;
    if (m_updateNotice == text)
        m_updateText.clear();
    refresh();
}

QString StatusLine::text() const
{
    return m_label ? m_label->text() : QString();
}

} // namespace omvara
