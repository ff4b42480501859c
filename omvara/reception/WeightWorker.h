// SPDX-License-Identifier: GPL-3.0-or-later
// The reception engine: reads the port and cuts the bytes into lines and values.
#pragma once

#include "omvara/processing/DataLine.h"
#include "omvara/reception/PortWriter.h"
#include "omvara/reception/WeightWorkerView.h"
#include "omvara/util/BackgroundTask.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <memory>

namespace portlink {
class SerialPort;
class StopSignal;
} // namespace portlink
namespace omvara::config {
class Config;
}

namespace omvara::processing {
class Editor;
class LineDecoder;
class LineProcessor;
} // namespace omvara::processing

namespace omvara::reception {

// The reception engine of a run: owns the open port from construction until
// done(), reads it byte by byte on its own thread, cuts the bytes into lines at
// the input terminator, turns each line into a value (extraction, edit,
// character removal, whitespace removal, number formatting) and hands each
// finished line as a DataLine to the view on the event thread.
//
// Life cycle (event thread): construct (opens the port; throws the port
// library's error or "null.port.error"), execute(), later cancel(true) for
// Stop. done() then reports unsent characters, closes the port and switches the
// view back to its stopped look. The result is the number of lines completed.
//
// While nothing arrives the reading thread sleeps on the port (no periodic
// wake-up); the interruption of cancel(true) ends that sleep at once, and so
// does the loss of the device. (cancel(false) would leave it asleep until the
// next byte arrives.)
//
// The Config must outlive the worker and must not change while it runs.
class WeightWorker : public util::BackgroundTask<qint32, processing::DataLine>
{
public:
    // Longest line kept while waiting for its terminator. Far above any real
    // record; reaching it means the input terminator setting is wrong.
    static constexpr int MaxLineLength = 64 * 1024;
    // Most lines handed on and not yet shown by the view. A device flooding
    // the port faster than the event thread shows lines then waits in the
    // port's buffer (the reader pauses until the view has caught up), instead
    // of lines queuing in memory, and every later value arriving later, for
    // as long as the flood lasts.
    static constexpr int MaxPendingLines = 2048;
    // Lines handed to the event thread together at most, while a device
    // floods the port (a burst of bytes ends a batch before that).
    static constexpr int MaxBatchLines = 128;
    // The pause after a wait on the port that ended for no reason the loop
    // can act on (a port closed under it, a failure of the native side).
    static constexpr int WaitRetryMs = 200;
    // Reconnecting to a network port after its connection went away
    // (the reconnect setting): a connection holds once it has lasted this long or delivered a line with
    // a value. One that ends before (a device server that accepts and closes
    // at once, or sends a complaint and closes) makes the pause before the
    // next attempt grow from FirstReconnectPause, doubling up to
    // LongestReconnectPause, as failed attempts do for a network port; the
    // pause is gone once a connection holds. Such a failing stretch is
    // logged once, when it begins, and the device counts as back (the log
    // line, RunState Running again) only once a connection holds.
    static constexpr std::chrono::milliseconds ConnectionHolds { 5000 };
    static constexpr std::chrono::milliseconds FirstReconnectPause { 500 };
    static constexpr std::chrono::milliseconds LongestReconnectPause { 5000 };

    WeightWorker(const config::Config &config, WeightWorkerView &view);
    ~WeightWorker() override;

    // True when the run ended because the device went away.
    bool deviceWasLost() const { return m_deviceLost.load(); }
    // Why doInBackground failed, empty when it did not (valid once done() ran).
    const QString &failure() const { return m_failure; }
    // The characters received after the last terminator (valid once done() ran).
    QString unsentData() const { return m_lineBuffer; }
    // The way to write to the device from another thread (requests for a
    // reading). It may outlive the engine; writes fail once the port is closed.
    std::shared_ptr<PortWriter> portWriter() const { return m_portWriter; }

protected:
    qint32 doInBackground() override;
    void done() override;
    void process(const std::vector<processing::DataLine> &lines) override;
    virtual qint32 readLines();

    // What the text variant changes in the loop.
    struct LoopStyle
    {
        bool numbers = true; // whitespace removal and number formatting
        bool bundleErrors = true; // parity/framing texts from the bundle, else literal
    };
    qint32 readLoop(LoopStyle style);

    portlink::SerialPort &port() { return *m_port; }
    const config::Config &config() const { return m_config; }
    WeightWorkerView &view() { return m_view; }

private:
    void openPort();
    // `log`: false leaves the port's settings and lines out of the log.
    void prepareOpenPort(bool flush, bool log = true);
    void reportUnsentData();
    // After the device went away: waits for it and opens it again. False when
    // the run was stopped meanwhile.
    bool awaitDevice();
    // Reading thread: the connection made at m_connectedAt has held (see
    // ConnectionHolds); ends a failing stretch.
    void connectionHeld();
    void completeLine(const processing::LineDecoder &decoder, processing::LineProcessor &processor,
        qint32 &lineCount, bool &errorMark);
    void waitForData(portlink::StopSignal &stop);
    // The lines completed since the last call go on: the view's outputs,
    // then the event thread.
    void handOnBatch();

    const config::Config &m_config;
    WeightWorkerView &m_view;
    QString m_portName; // the port opened: the configured one, or the device a missing stable name stood for
    // Shared with m_portWriter, so that a write in progress on another
    // thread never outlives the port object (closing the port ends it).
    std::shared_ptr<portlink::SerialPort> m_port;
    std::shared_ptr<PortWriter> m_portWriter = std::make_shared<PortWriter>();
    QString m_lineBuffer;
    QString m_lineTail; // the dropped tail of a line cut at MaxLineLength (reading thread)
    std::atomic<bool> m_deviceLost { false };
    // Reconnecting (reading thread, and the constructor).
    std::chrono::steady_clock::time_point m_connectedAt = std::chrono::steady_clock::now();
    bool m_network = false; // a network address, not a device name
    bool m_connectionHeld = false; // lasted ConnectionHolds or delivered a value (always for a device name)
    bool m_failingStretch = false; // connections keep ending early; told once
    std::chrono::milliseconds m_reconnectPause { 0 };
    QString m_failure;
    int m_batchLines = 0; // completed since the last handOnBatch (reading thread)
};

} // namespace omvara::reception
