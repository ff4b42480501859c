// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/StatusLine.h"

#include "omvara/util/Bundle.h"
#include "omvara/update/UpdateWorker.h"

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

void StatusLine::showText(const QString &text)
{
    if (m_label)
        m_label->setText(text);
}

void StatusLine::showIdleText()
{
    showText(m_updateNotice.isEmpty() ? normalText() : m_updateNotice);
}

void StatusLine::setRunning(bool running)
{
    m_running = running;
}

void StatusLine::setStatusText(const QString &text)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, text] { applyUpdateText(text); }, Qt::QueuedConnection);
        return;
    }
    applyUpdateText(text);
}

void StatusLine::applyUpdateText(const QString &text)
{
    if (text == update::UpdateWorker::updateAvailableText())
        m_updateNotice = text;
    if (!m_running)
        showText(text);
}

QString StatusLine::text() const
{
    return m_label ? m_label->text() : QString();
}

} // namespace omvara
