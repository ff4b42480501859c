// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/reception/WeightWorkerView.h"

#include <QStringList>

#include <mutex>

// A view that keeps what it is told; any thread may report.
class RecordingView : public omvara::reception::WeightWorkerView
{
public:
    void logEvent(const QString &message) override
    {
        std::lock_guard lock(m_mutex);
        m_events << message;
    }
    void logImportantEvent(const QString &message) override
    {
        std::lock_guard lock(m_mutex);
        m_important << message;
    }
    void setConnectedInGUI(bool) override { }
    void showDataLine(omvara::processing::DataLine &) override { }

    QStringList important() const
    {
        std::lock_guard lock(m_mutex);
        return m_important;
    }
    QStringList events() const
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }

private:
    mutable std::mutex m_mutex;
    QStringList m_events;
    QStringList m_important;
};
