// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/reception/AutoPortWorker.h"

#include "omvara/texts/WorkerTexts.h"
#include "omvara/util/Interruption.h"
#include "portlink/PortRegistry.h"
#include "portlink/SerialConfig.h"
#include "portlink/SerialPortLocal.h"

namespace omvara::reception {

AutoPortWorker::AutoPortWorker(QStringList portNames, AutoPortWorkerView &view)
    : m_view(view)
    , m_portNames(std::move(portNames))
{
}

AutoPortWorker::~AutoPortWorker()
{
    stopAndWait();
}

std::optional<QString> AutoPortWorker::doInBackground()
{
    return probePorts();
}

std::optional<QString> AutoPortWorker::probePorts()
{
    publish(texts::WorkerTexts::text("auto.port.detection.started"));
    for (const QString &portName : m_portNames) {
        m_currentPortConfidence = 0;
        publish(texts::WorkerTexts::text("testing.port.0").replace(QLatin1String("{0}"), portName));
        try {
            m_currentPortConfidence = probe(portName);
        } catch (const util::InterruptedError &) {
            return m_bestPortName;
        } catch (const std::exception &e) {
            // The port cannot take part; the message says why.
            publish(QString::fromUtf8(e.what()));
            continue;
        }
        if (m_currentPortConfidence > m_bestPortConfidence) {
            m_bestPortName = portName;
            m_bestPortConfidence = m_currentPortConfidence;
        }
        publish(texts::WorkerTexts::text("confidence") + u' ' + QString::number(m_currentPortConfidence));
    }
    return m_bestPortName;
}

qint32 AutoPortWorker::probe(const QString &portName)
{
    portlink::PortRegistry::addPortName(portName); // no-op for a known name
    portlink::SerialConfig config(portName);
    config.setBitRate(portlink::SerialConfig::BR_9600);
    config.setDataBits(portlink::SerialConfig::LN_8BITS);
    config.setParity(portlink::SerialConfig::PY_NONE);
    config.setStopBits(portlink::SerialConfig::ST_1BITS);
    portlink::SerialPortLocal port(config); // closed by its destruction on every way out
    const auto settle = [this] {
        constexpr std::chrono::milliseconds pause { 150 };
        if (m_sleeper)
            m_sleeper(pause);
        else
            util::Interruption::sleep(pause);
    };

    qint32 confidence = 0;
    port.setDTR(false);
    port.setRTS(false);
    settle();
    if (port.sigDSR()) {
        port.setDTR(true);
        port.setRTS(true);
        settle();
        if (port.sigDSR() && port.sigCTS())
            confidence = portName == QLatin1String("COM3") ? 1 : 3;
        else
            confidence = 1;
    } else {
        port.setDTR(true);
        settle();
        if (port.sigDSR()) {
            port.setRTS(true);
            settle();
            confidence = port.sigDSR() && port.sigCTS() ? 2 : 1;
        } else {
            port.setRTS(true);
            settle();
            confidence = port.sigCTS() ? 1 : 0;
        }
    }
    port.setDTR(false);
    port.setRTS(false);
    port.close();
    return confidence;
}

void AutoPortWorker::process(const std::vector<QString> &messages)
{
    for (const QString &message : messages)
        m_view.appendMessage(message, AutoPortWorkerView::MessageStyle::Plain);
}

void AutoPortWorker::done()
{
    m_view.setButtonToClose();
    try {
        const std::optional<QString> best = get();
        if (best) {
            m_view.selectPort(*best);
            m_view.appendMessage(texts::WorkerTexts::text("best.port") + u' ' + *best,
                AutoPortWorkerView::MessageStyle::Emphasised);
        } else {
            m_view.appendMessage(texts::WorkerTexts::text("could.not.auto.detect.port"),
                AutoPortWorkerView::MessageStyle::Emphasised);
        }
    } catch (const util::CancellationError &) {
        m_view.appendMessage(texts::WorkerTexts::text("stopped"));
    } catch (const util::ExecutionError &e) {
        m_view.appendMessage(texts::WorkerTexts::text("execution.exception") + QString::fromUtf8(e.what()));
    }
}

} // namespace omvara::reception
