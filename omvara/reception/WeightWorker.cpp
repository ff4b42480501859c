// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/reception/WeightWorker.h"

#include "omvara/config/Config.h"
#include "omvara/config/ConfigHelper.h"
#include "omvara/processing/LineDecoder.h"
#include "omvara/processing/LineProcessor.h"
#include "omvara/texts/WorkerTexts.h"
#include "omvara/util/Interruption.h"
#include "portlink/NetworkPortName.h"
#include "portlink/PortRegistry.h"
#include "portlink/PortlinkErrors.h"
#include "portlink/SerialConfig.h"
#include "portlink/SerialPortLocal.h"
#include "portlink/StopSignal.h"

#include <QScopeGuard>

#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <stop_token>

namespace omvara::reception {

using config::ConfigHelper;

WeightWorker::WeightWorker(const config::Config &config, WeightWorkerView &view)
    : m_config(config)
    , m_view(view)
{
    setPublishLimit(MaxPendingLines);
    m_lineBuffer.reserve(30);
    if (config.getPort().isEmpty())
        throw std::runtime_error(texts::WorkerTexts::text("null.port.error").toStdString());
    m_portName = config.getPort();
    if (m_portName.startsWith(QLatin1String("/dev/serial/by-")) && !QFileInfo::exists(m_portName)
        && !config.getPortDevice().isEmpty()) {
        // A stable name names one adapter; settings brought from another
        // workstation carry one that does not exist here.
        m_portName = config.getPortDevice();
        m_view.logImportantEvent(texts::WorkerTexts::format(
            texts::WorkerTexts::text("stable.name.missing"), { config.getPort(), m_portName }));
    }
    portlink::PortRegistry::addPortName(m_portName);
    m_network = portlink::NetworkPortName::isNetworkName(m_portName);
    // A device name is held once it opens: its driver, not a server, says when it is gone.
    m_connectionHeld = !m_network;
    openPort();

    m_view.setConnectedInGUI(true);
    try {
        prepareOpenPort(true);
    } catch (...) {
        // The port is closed again by its destruction; the view must not stay in its running look.
        m_portWriter->detach();
        m_view.setConnectedInGUI(false);
        throw;
    }
}

// Opens the configured port; on success it replaces m_port (a port object is
// never reopened). Throws the port library's error.
void WeightWorker::openPort()
{
    portlink::SerialConfig serialConfig(m_portName);
    serialConfig.setBitRate(m_config.getBitRate());
    serialConfig.setDataBits(m_config.getDataBits());
    serialConfig.setParity(m_config.getParity());
    serialConfig.setStopBits(m_config.getStopBits());
    m_port = std::make_unique<portlink::SerialPortLocal>(serialConfig);
    m_portWriter->attach(m_port);
}

// `flush`: drop what the driver holds from before the run. Not after the
// device came back: what it has sent since then is the run's.
void WeightWorker::prepareOpenPort(bool flush, bool log)
{
    if (flush)
        m_port->rxFlush();
    if (log)
        m_view.logEvent(texts::WorkerTexts::format(texts::WorkerTexts::text("port.opened"),
            { m_port->getPortName(), ConfigHelper::BitRates::getValue(m_port->getBitRate()),
                ConfigHelper::DataBits::getValue(m_port->getDataBits()),
                ConfigHelper::StopBits::getValue(m_port->getStopBits()),
                ConfigHelper::Parity::getValue(m_port->getParity()) }));
    m_port->setRTS(false);
    m_port->setDTR(true);
    const auto onOff = [](bool on) { return on ? QStringLiteral("on") : QStringLiteral("off"); };
    const bool dsr = m_port->sigDSR();
    const bool cts = m_port->sigCTS();
    if (log)
        m_view.logEvent(QStringLiteral("RTS: off, DTR: on. DSR: %1, CTS: %2.").arg(onOff(dsr), onOff(cts)));
}

WeightWorker::~WeightWorker()
{
    stopAndWait();
    // A write on another thread may hold the port object beyond this
    // destructor; closing it here ends that write.
    m_portWriter->detach();
    if (m_port) {
        try {
            m_port->close();
        } catch (const std::exception &) {
            // The native side has released the port either way.
        }
    }
}

qint32 WeightWorker::doInBackground()
{
    return readLines();
}

qint32 WeightWorker::readLines()
{
    return readLoop(LoopStyle {});
}

qint32 WeightWorker::readLoop(LoopStyle style)
{
    const processing::LineDecoder decoder(m_config.getInputEncoding());
    processing::LineProcessor processor(m_config, style.numbers);
    const int terminator = m_config.getInputTerminator();
    const QString parityText
        = style.bundleErrors ? texts::WorkerTexts::text("parity.error") : QStringLiteral("Parity Error");
    const QString framingText
        = style.bundleErrors ? texts::WorkerTexts::text("framing.error") : QStringLiteral("Framing Error");
    qint32 lineCount = 0;
    bool errorMark = false;
    const auto reportTooLong = [&](const QString &characters) {
        m_view.logImportantEvent(texts::WorkerTexts::format(texts::WorkerTexts::text("line.too.long"),
            { QString::number(characters.size()), QString::number(terminator) }));
    };
    // The tail of a line cut at the limit is dropped up to and including the
    // next terminator (it is no record of its own); while that goes on,
    // `discarding` holds and the dropped characters collect in m_lineTail,
    // which is handed on as overflowed in pieces of at most MaxLineLength.
    bool discarding = false;
    const auto tailDropped = [&] {
        // A tail that is only the terminator dropped nothing of the line.
        const bool onlyTerminator
            = m_lineTail.size() == 1 && m_lineTail.front() == QChar(char16_t(terminator));
        if (!m_lineTail.isEmpty() && !onlyTerminator)
            m_view.lineOverflowed(m_lineTail);
        m_lineTail.clear();
    };
    const auto atEnd = qScopeGuard(tailDropped);
    // Whatever ends the loop, the lines it completed go on.
    const auto batchAtEnd = qScopeGuard([this] { handOnBatch(); });

    // Parity and framing errors are events "since the previous query". They are
    // asked for before each line is completed and at the end of each burst of
    // bytes, which marks the same line as asking after every byte would (an
    // error always belongs to the line being received when it is noticed) and
    // saves two system calls per byte.
    const auto queryLineErrors = [&] {
        if (m_port->sigParityErr()) {
            m_view.logImportantEvent(parityText);
            errorMark = true;
        }
        if (m_port->sigFrameErr()) {
            m_view.logImportantEvent(framingText);
            errorMark = true;
        }
    };

    // Stop (cancel with interruption) raises the signal that ends a wait on
    // the port. The callback runs on the thread that stops the task; it is
    // gone before the signal is.
    portlink::StopSignal stop;
    const std::stop_callback wakeOnStop(util::Interruption::current(), [&stop] { stop.raise(); });

    while (!isCancelled()) {
        try {
            bool received = false;
            portlink::SerialPort &port = *m_port;
            for (int byte = port.getByte(); byte != -1; byte = port.getByte()) {
                received = true;
                if (discarding) {
                    // A terminator that never comes (a wrong terminator
                    // setting) is reported again for every MaxLineLength
                    // bytes, as the first part of the line was.
                    m_lineTail.append(QChar(char16_t(byte)));
                    if (byte == terminator) {
                        queryLineErrors();
                        tailDropped();
                        errorMark = false;
                        discarding = false;
                        received = false;
                    } else if (m_lineTail.size() >= MaxLineLength) {
                        queryLineErrors();
                        reportTooLong(m_lineTail);
                        tailDropped();
                        errorMark = false;
                        received = false;
                    }
                    continue;
                }
                m_lineBuffer.append(QChar(char16_t(byte)));
                if (byte == terminator) {
                    queryLineErrors();
                    completeLine(decoder, processor, lineCount, errorMark);
                    received = false;
                    // Stop takes effect between lines even while a device floods the port.
                    if (isCancelled())
                        return lineCount;
                } else if (m_lineBuffer.size() >= MaxLineLength) {
                    queryLineErrors(); // errors of the discarded bytes go with them
                    reportTooLong(m_lineBuffer);
                    m_view.lineOverflowed(m_lineBuffer);
                    m_lineBuffer.clear();
                    errorMark = false;
                    received = false;
                    discarding = true;
                }
            }
            if (received)
                queryLineErrors();
        } catch (const portlink::IoError &) {
            // A vanished device makes the signal queries fail; that is reported below.
            if (!m_port->isDeviceLost())
                throw;
        }
        // The burst has ended: before the thread waits, its lines go on.
        handOnBatch();
        if (m_port->isDeviceLost()) {
            if (m_view.waitForLostDevice()) {
                errorMark = false;
                // The rest of a cut line went with the device.
                discarding = false;
                tailDropped();
                if (awaitDevice())
                    continue;
                return lineCount;
            }
            m_deviceLost = true;
            m_view.logImportantEvent(texts::WorkerTexts::text("device.lost"));
            return lineCount;
        }
        try {
            waitForData(stop);
        } catch (const util::InterruptedError &) {
            return lineCount;
        }
    }
    return lineCount;
}

// Nothing is waiting: sleep on the port until a byte arrives, the run is
// stopped (interruption raises `stop`) or the device goes away. Nothing else
// wakes the thread, so an idle run costs no processor time, and a line is
// handed on as soon as its terminator arrives. An answer without any of
// these (a port closed under the loop, a failure of the native side)
// pauses instead, so the loop never turns without a pause.
void WeightWorker::waitForData(portlink::StopSignal &stop)
{
    util::Interruption::check();
    if (!m_connectionHeld) {
        // Until the connection has held, the wait ends when it would have.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            m_connectedAt + ConnectionHolds - std::chrono::steady_clock::now());
        if (left.count() > 0) {
            if (m_port->waitReadable(stop, static_cast<int>(left.count())))
                return;
            util::Interruption::check();
            if (m_port->isDeviceLost() || stop.raised()
                || std::chrono::steady_clock::now() < m_connectedAt + ConnectionHolds)
                return;
        }
        connectionHeld();
        return;
    }
    if (m_port->waitReadable(stop))
        return;
    util::Interruption::check();
    if (!m_port->isDeviceLost() && !stop.raised())
        util::Interruption::sleep(std::chrono::milliseconds(WaitRetryMs));
}

void WeightWorker::completeLine(const processing::LineDecoder &decoder, processing::LineProcessor &processor,
    qint32 &lineCount, bool &errorMark)
{
    ++lineCount;
    const qint32 count = lineCount;
    // The bytes as text (the terminator stays the byte it was).
    QString raw = m_lineBuffer;
    try {
        raw = decoder.decode(m_lineBuffer);
        const processing::LineProcessor::Result result = processor.process(raw);
        processing::DataLine line(raw, result.processedData, count, result.instant, errorMark);
        errorMark = false;
        m_lineBuffer.clear();
        if (!m_connectionHeld && line.hasValue())
            connectionHeld();
        m_view.lineCompleted(line);
        // Handed to the event thread in batches: one wake-up of it per
        // batch, not per line.
        if (++m_batchLines >= MaxBatchLines || publishWouldWait())
            handOnBatch();
        publishLater(std::move(line));
    } catch (const std::exception &e) {
        // The line is not delivered; its characters are dropped so that the
        // next line is searched on its own (kept, they would make every later
        // line fail the same way).
        const QString message = texts::WorkerTexts::errorText(e);
        m_view.logImportantEvent(QStringLiteral("Error [WW]: ") + message);
        const auto *invalid = dynamic_cast<const processing::InvalidBytesError *>(&e);
        m_view.lineFailed(invalid ? invalid->raw() : raw, count, message);
        errorMark = false;
        m_lineBuffer.clear();
    }
}

void WeightWorker::handOnBatch()
{
    m_batchLines = 0;
    m_view.linesCompleted();
    postPublished();
}

void WeightWorker::reportUnsentData()
{
    if (!m_lineBuffer.isEmpty()) {
        m_view.logImportantEvent(texts::WorkerTexts::text("unsent.data") + u' '
            + processing::DataLine::transformControlChars(m_lineBuffer));
        m_view.lineUnsent(m_lineBuffer);
    }
    m_lineBuffer.clear();
}

bool WeightWorker::awaitDevice()
{
    const QString name = m_portName;
    const auto lasted = std::chrono::steady_clock::now() - m_connectedAt;
    if (!m_network || m_connectionHeld || lasted >= ConnectionHolds) {
        m_reconnectPause = std::chrono::milliseconds(0);
        m_failingStretch = false;
        m_view.logImportantEvent(
            texts::WorkerTexts::format(texts::WorkerTexts::text("device.lost.waiting"), { name }));
    } else {
        // Ended before it held: the next attempt waits, longer each time.
        m_reconnectPause = std::clamp<std::chrono::milliseconds>(
            m_reconnectPause * 2, FirstReconnectPause, LongestReconnectPause);
        if (!m_failingStretch) {
            m_failingStretch = true;
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(lasted).count();
            m_view.logImportantEvent(
                texts::WorkerTexts::format(texts::WorkerTexts::text("connection.ended.early"),
                    { name, QString::number(double(ms) / 1000.0, 'f', 1),
                        QString::number(LongestReconnectPause.count() / 1000) }));
        }
    }
    // Nothing of the line the device was sending when it went away is typed:
    // the rest of it is gone with the device.
    reportUnsentData();
    // No request goes to the lost device; one being written ends with the close.
    m_portWriter->detach();
    try {
        m_port->close();
    } catch (const std::exception &) {
        // The native side has let go of the device either way.
    }

    // A network address is tried again with a growing pause; a device name as
    // soon as something changes where it leads (and at least every second,
    // which also covers a node whose permissions udev sets just after making it).
    // After a connection that did not hold, the first attempt waits too.
    const bool network = m_network;
    std::chrono::milliseconds pause = m_reconnectPause;
    portlink::SerialConfig watched(name);
    for (;;) {
        if (isCancelled() || util::Interruption::interrupted())
            return false;
        if (pause.count() > 0) {
            try {
                util::Interruption::sleep(pause);
            } catch (const util::InterruptedError &) {
                return false;
            }
        }
        try {
            openPort();
            prepareOpenPort(false, !m_failingStretch);
            break;
        } catch (const std::exception &) {
            // Not back yet (or not usable yet): wait and try again.
        }
        if (network) {
            pause = std::clamp<std::chrono::milliseconds>(
                pause * 2, FirstReconnectPause, LongestReconnectPause);
            m_reconnectPause = pause;
        } else {
            pause = std::chrono::milliseconds(0);
            portlink::PortRegistry::waitForPortName(watched, 1000);
        }
    }
    m_connectedAt = std::chrono::steady_clock::now();
    m_connectionHeld = !network;
    // In a failing stretch the device counts as back once a connection holds.
    if (!m_failingStretch) {
        // Good news, not in the style of the loss.
        m_view.logEvent(texts::WorkerTexts::format(texts::WorkerTexts::text("device.back"), { name }));
        m_view.deviceBack();
    }
    return true;
}

void WeightWorker::connectionHeld()
{
    m_connectionHeld = true;
    m_reconnectPause = std::chrono::milliseconds(0);
    if (m_failingStretch) {
        m_failingStretch = false;
        m_view.logEvent(texts::WorkerTexts::format(texts::WorkerTexts::text("device.back"), { m_portName }));
        m_view.deviceBack();
    }
}

void WeightWorker::process(const std::vector<processing::DataLine> &lines)
{
    for (const processing::DataLine &line : lines) {
        processing::DataLine shown = line;
        m_view.showDataLine(shown);
    }
    m_view.dataLinesShown();
}

void WeightWorker::done()
{
    try {
        get();
    } catch (const util::CancellationError &) {
        m_view.logEvent(texts::WorkerTexts::text("stopped"));
    } catch (const util::ExecutionError &e) {
        m_failure = QString::fromUtf8(e.what());
        m_view.logImportantEvent(texts::WorkerTexts::text("execution.exception") + m_failure);
    }
    reportUnsentData();
    m_portWriter->detach();
    try {
        m_port->close();
    } catch (const std::exception &e) {
        m_view.logImportantEvent(QString::fromUtf8(e.what()));
    }
    m_view.setConnectedInGUI(false);
}

} // namespace omvara::reception
