// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/config/OutputSettings.h"
#include "omvara/run/OutputReport.h"
#include "omvara/run/ValueSink.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <memory>

namespace omvara::broker {
class MqttPublisher;
}

namespace omvara::run {

// Publishes every typed (or printed) value to a topic of an MQTT broker, as
// JSON with QoS 1, in order:
//   {"time": "...", "value": "12,35", "raw": "...", "port": "COM3",
//    "instrument": "SARTORIUS", "run": "...", "seq": 1, "typed": "12,35 #1",
//    "connection": "1"}
// `value` is the value alone, `typed` what went out for it, the stamps
// beside it included. A cut value (only part of it was typed) is published
// with the characters of the value that went out and "status": "cut" after
// its value; a value typed without characters the keyboard cannot type, with
// "status": "incomplete".
// `run` names the run and `seq` counts its values from 1, so a subscriber can
// drop the repeats that at-least-once delivery may bring. Several
// connections share one output: `seq` then counts each connection's values
// (the "{seq}" of its stamps), and a topic with "{connection}" in it gets
// each connection's name there.
//
// The broker's connection is reported once per failing stretch and again
// when it works again; values wait meanwhile (see broker::MqttPublisher).
// After the end of the run what waits is still published for FinishTime
// (nothing after a second Stop); what is left then is reported.
//
// Threads: as ValueSink; the reports come from the publisher's thread.
class BrokerOutput : public ValueSink
{
public:
    static constexpr int FinishTimeMs = 5000;

    struct Setup
    {
        config::BrokerAddress address;
        QString caFile;
        QString password;
        QString port;
        QString instrument;
    };

    BrokerOutput(Setup setup, OutputReport report);
    ~BrokerOutput() override;

    OutputKind kind() const override { return OutputKind::Broker; }
    QString detail() const override;
    void start() override;
    void lineSettled(const RunLine &line) override;
    void stop() override;
    void finish() override;
    void abort() override;
    void join() override;

    // The client id of this workstation and `port`: "omvara-" and 16 hex
    // digits of a hash (23 characters, the most every broker accepts).
    static QString clientId(const QString &port);
    // The message of one value.
    static QByteArray message(
        const RunLine &line, const QString &port, const QString &instrument, const QString &run, qint64 seq);
    // The topic of a value from `connection`: the configured one, with
    // "{connection}" replaced.
    static QString topicFor(const QString &topic, const QString &connection);

private:
    const Setup m_setup;
    const OutputReport m_report;
    const QString m_run;
    qint64 m_seq = 0; // the values so far (lineSettled, one call at a time)
    QHash<QString, qint64> m_connectionSeq; // the values so far of each connection
    std::unique_ptr<broker::MqttPublisher> m_publisher;
    // Publisher thread only.
    bool m_failing = false;
    bool m_everConnected = false;
};

} // namespace omvara::run
