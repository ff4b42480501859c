// SPDX-License-Identifier: GPL-3.0-or-later
// Automatic port detection: finds the port a device answers on.
#pragma once

#include "omvara/reception/AutoPortWorkerView.h"
#include "omvara/util/BackgroundTask.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

namespace omvara::reception {

// Finds the port a device is attached to without exchanging data with it:
// each candidate is opened in turn, DTR and RTS are raised step by step and
// DSR and CTS read back. A port scores 0-3 by how its inputs follow its
// outputs; the first port with the highest score wins. Progress messages go
// to the view through process(); done() reports the outcome.
//
// Each port costs 300-450 ms of pauses; cancel(true) ends the current pause
// at once, closes the port under test and reports "stopped".
class AutoPortWorker : public util::BackgroundTask<std::optional<QString>, QString>
{
public:
    AutoPortWorker(QStringList portNames, AutoPortWorkerView &view);
    ~AutoPortWorker() override;

    // How a pause after a change of the output lines is taken (150 ms each):
    // Interruption::sleep unless a test installs its own. Set before execute().
    using Sleeper = std::function<void(std::chrono::milliseconds)>;
    void setSleeper(Sleeper sleeper) { m_sleeper = std::move(sleeper); }

    std::optional<QString> bestPortName() const { return m_bestPortName; }
    qint32 bestPortConfidence() const { return m_bestPortConfidence; }

protected:
    std::optional<QString> doInBackground() override;
    void done() override;
    void process(const std::vector<QString> &messages) override;
    virtual std::optional<QString> probePorts();

private:
    // The confidence of one port; throws the port library's errors.
    qint32 probe(const QString &portName);

    AutoPortWorkerView &m_view;
    QStringList m_portNames;
    std::optional<QString> m_bestPortName;
    qint32 m_bestPortConfidence = 0;
    qint32 m_currentPortConfidence = 0;
    Sleeper m_sleeper;
};

} // namespace omvara::reception
