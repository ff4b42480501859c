// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/config/Config.h"
#include "omvara/config/Instrument.h"
#include "omvara/processing/DataLine.h"
#include "omvara/reception/AutoPortWorkerView.h"
#include "omvara/reception/WeightWorkerView.h"
#include "omvara/util/BackgroundTask.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

namespace reception_test {

inline QCoreApplication &app()
{
    static int argc = 1;
    static char name[] = "omvara_reception_tests";
    static char *argv[] = { name, nullptr };
    static QCoreApplication *instance = new QCoreApplication(argc, argv);
    return *instance;
}

// Runs the event loop until `condition` holds or `timeout` passed; returns the condition.
inline bool runUntil(
    const std::function<bool()> &condition, std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents();
    }
    return true;
}

inline bool runUntilDone(omvara::util::BackgroundTaskBase &task)
{
    return runUntil([&] { return task.isDone(); });
}

// A view that records everything a run reports.
class RecordingView : public omvara::reception::WeightWorkerView
{
public:
    struct Entry
    {
        QString text;
        bool important;
    };

    void logEvent(const QString &message) override { add(message, false); }
    void logImportantEvent(const QString &message) override { add(message, true); }
    void setConnectedInGUI(bool connected) override { connectedChanges.push_back(connected); }
    void showDataLine(omvara::processing::DataLine &line) override { lines.push_back(line); }

    std::vector<Entry> entries() const
    {
        std::lock_guard lock(m_mutex);
        return m_entries;
    }
    // Entries that contain `part`.
    std::vector<Entry> find(const QString &part) const
    {
        std::vector<Entry> found;
        for (const Entry &e : entries())
            if (e.text.contains(part))
                found.push_back(e);
        return found;
    }
    QStringList important() const
    {
        QStringList texts;
        for (const Entry &e : entries())
            if (e.important)
                texts.append(e.text);
        return texts;
    }
    QStringList values() const
    {
        QStringList v;
        for (const auto &line : lines)
            v.append(line.getProcessedData());
        return v;
    }

    // Forgets everything (between the runs of a table).
    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_entries.clear();
        lines.clear();
        connectedChanges.clear();
    }

    std::vector<omvara::processing::DataLine> lines;
    std::vector<bool> connectedChanges;

private:
    void add(const QString &text, bool important)
    {
        std::lock_guard lock(m_mutex);
        m_entries.push_back({ text, important });
    }
    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
};

class RecordingDetectionView : public omvara::reception::AutoPortWorkerView
{
public:
    void setButtonToCancel() override { button = "Cancel"; }
    void setButtonToClose() override { button = "Close"; }
    void selectPort(const QString &portName) override { selected.append(portName); }
    void appendMessage(const QString &text, MessageStyle style) override
    {
        messages.append(text);
        emphasised.push_back(style == MessageStyle::Emphasised);
    }

    QString button;
    QStringList selected;
    QStringList messages;
    std::vector<bool> emphasised;
};

// The settings a user gets after choosing `instrument` and applying its defaults.
inline omvara::config::Config configFor(
    const omvara::config::ConfigHelper::Instrument &instrument, const QString &port)
{
    omvara::config::Config config = instrument.getDefaultConfig();
    config.setInstrument(&instrument);
    config.setPort(port);
    return config;
}

} // namespace reception_test
