// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/run/BrokerOutput.h"

#include "omvara/broker/MqttPublisher.h"
#include "omvara/processing/DataLine.h"
#include "omvara/texts/WorkerTexts.h"

#include <QCryptographicHash>
#include <QSysInfo>
#include <QUuid>

#include <chrono>

namespace omvara::run {

namespace {

QString text(const char *key, const QStringList &args)
{
    return texts::WorkerTexts::format(texts::WorkerTexts::text(key), args);
}

// A JSON string.
void appendString(QByteArray &out, const QString &value)
{
    out += '"';
    for (const char c : value.toUtf8()) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

} // namespace

BrokerOutput::BrokerOutput(Setup setup, OutputReport report)
    : m_setup(std::move(setup))
    , m_report(std::move(report))
    , m_run(QUuid::createUuid().toString(QUuid::WithoutBraces))
{
    broker::MqttConnection connection;
    connection.host = m_setup.address.host;
    connection.port = m_setup.address.port;
    connection.tls = m_setup.address.tls;
    connection.caFile = m_setup.caFile;
    connection.user = m_setup.address.user;
    connection.password = m_setup.password;
    connection.clientId = clientId(m_setup.port);
    connection.topic = m_setup.address.topic;

    const QString where = m_setup.address.display();
    broker::MqttPublisher::Events events;
    events.connected = [this, where] {
        if (m_failing) {
            m_report.importantEvent(text("broker.works.again", { where }));
        } else if (!m_everConnected) {
            m_report.event(text("broker.connected", { where }));
        }
        m_failing = false;
        m_everConnected = true;
        m_report.state(RunState::Output::Status::Working, where);
    };
    events.failed = [this, where](const QString &reason) {
        if (!m_failing)
            m_report.importantEvent(
                text("broker.failed", { where, reason, QString::number(broker::MqttPublisher::Capacity) }));
        m_failing = true;
        m_report.state(RunState::Output::Status::Failed, reason);
    };
    events.dropped = [this](quint64 total) {
        m_report.importantEvent(text("broker.values.dropped",
            { QString::number(broker::MqttPublisher::Capacity), QString::number(total) }));
    };
    events.ended = [this](quint64 undelivered) {
        if (undelivered > 0)
            m_report.importantEvent(text("broker.values.not.published", { QString::number(undelivered) }));
        m_report.state(RunState::Output::Status::Ended, m_setup.address.display());
    };
    m_publisher = std::make_unique<broker::MqttPublisher>(std::move(connection), std::move(events));
}

BrokerOutput::~BrokerOutput() = default;

QString BrokerOutput::detail() const
{
    return m_setup.address.display();
}

void BrokerOutput::start()
{
    m_report.event(text("broker.started", { m_setup.address.display() }));
    m_publisher->start();
}

void BrokerOutput::lineSettled(const RunLine &line)
{
    if (line.status != LineStatus::Typed && line.status != LineStatus::Printed
        && line.status != LineStatus::Cut && line.status != LineStatus::Incomplete)
        return;
    const LineOrigin *o = line.origin;
    if (!o) {
        m_publisher->publish(message(line, m_setup.port, m_setup.instrument, m_run, ++m_seq));
        return;
    }
    const qint64 seq = ++m_connectionSeq[o->connection];
    const QString &topic = m_setup.address.topic;
    m_publisher->publish(message(line, o->port, o->instrument, m_run, seq),
        topic.contains(QLatin1String("{connection}")) ? topicFor(topic, o->connection).toUtf8()
                                                      : QByteArray());
}

void BrokerOutput::stop()
{
    m_publisher->endBy(std::chrono::steady_clock::now() + std::chrono::milliseconds(FinishTimeMs));
}

void BrokerOutput::finish()
{
    stop();
}

void BrokerOutput::abort()
{
    m_publisher->endBy(std::chrono::steady_clock::now());
}

void BrokerOutput::join()
{
    m_publisher->close();
}

QString BrokerOutput::clientId(const QString &port)
{
    QByteArray workstation = QSysInfo::machineUniqueId();
    workstation += '\n';
    workstation += QSysInfo::machineHostName().toUtf8();
    workstation += '\n';
    workstation += port.toUtf8();
    const QByteArray hash = QCryptographicHash::hash(workstation, QCryptographicHash::Sha256).toHex();
    return QStringLiteral("omvara-") + QString::fromLatin1(hash.left(16));
}

QByteArray BrokerOutput::message(
    const RunLine &line, const QString &port, const QString &instrument, const QString &run, qint64 seq)
{
    QByteArray out;
    out.reserve(160 + line.raw.size());
    // A cut value: the characters that went out, marked as such.
    const bool cut = line.status == LineStatus::Cut;
    out += "{\"time\": ";
    appendString(out, isoTime(line.time));
    out += ", \"value\": ";
    appendString(out, cut ? line.typedPart : line.value);
    if (cut)
        out += ", \"status\": \"cut\"";
    else if (line.status == LineStatus::Incomplete)
        out += ", \"status\": \"incomplete\"";
    out += ", \"raw\": ";
    appendString(out, processing::DataLine::transformControlChars(line.raw));
    out += ", \"port\": ";
    appendString(out, port);
    out += ", \"instrument\": ";
    appendString(out, instrument);
    out += ", \"run\": ";
    appendString(out, run);
    out += ", \"seq\": ";
    out += QByteArray::number(seq);
    out += ", \"typed\": ";
    appendString(out, line.typed);
    out += ", \"connection\": ";
    appendString(out, line.origin ? line.origin->connection : QString());
    out += '}';
    return out;
}

QString BrokerOutput::topicFor(const QString &topic, const QString &connection)
{
    QString t = topic;
    return t.replace(QLatin1String("{connection}"), connection);
}

} // namespace omvara::run
