// SPDX-License-Identifier: GPL-3.0-or-later
// The publisher against a real mosquitto broker on 127.0.0.1, started and
// stopped by the test, with a mosquitto_sub subscriber collecting what arrives.
#include "BrokerProcesses.h"

#include "omvara/broker/MqttPublisher.h"

#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <condition_variable>
#include <optional>

using namespace std::chrono_literals;
using omvara::broker::MqttConnection;
using omvara::broker::MqttPublisher;

namespace {

bool haveBrokerPrograms()
{
    return !QStandardPaths::findExecutable(QStringLiteral("mosquitto")).isEmpty()
        && !QStandardPaths::findExecutable(QStringLiteral("mosquitto_sub")).isEmpty()
        && !QStandardPaths::findExecutable(QStringLiteral("mosquitto_pub")).isEmpty();
}

// What the publisher's thread reported, for the test's thread to wait on.
class Recorded
{
public:
    MqttPublisher::Events events()
    {
        MqttPublisher::Events e;
        e.connected = [this] { change([&] { ++m_connected; }); };
        e.failed = [this](const QString &) { change([&] { ++m_failed; }); };
        e.dropped = [this](quint64 total) { change([&] { m_dropped = total; }); };
        e.ended = [this](quint64 undelivered) {
            change([&] {
                ++m_ends;
                m_undelivered = undelivered;
            });
        };
        return e;
    }

    // Waits (generously) until `done` holds.
    template <typename Done> bool waitFor(Done done)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 30s, [&] { return done(*this); });
    }

    int connected() const { return m_connected; }
    int failed() const { return m_failed; }
    int ends() const { return m_ends; }
    quint64 dropped() const { return m_dropped; }
    quint64 undelivered() const { return m_undelivered; }

private:
    template <typename F> void change(F f)
    {
        {
            std::lock_guard lock(m_mutex);
            f();
        }
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_connected = 0;
    int m_failed = 0;
    int m_ends = 0;
    quint64 m_dropped = 0;
    quint64 m_undelivered = 0;
};

MqttConnection to(int port, const QString &topic)
{
    MqttConnection c;
    c.host = QStringLiteral("127.0.0.1");
    c.port = port;
    c.clientId = QStringLiteral("omvara-test-publisher");
    c.topic = topic;
    return c;
}

QByteArray message(qint64 seq)
{
    return QStringLiteral("{\"seq\":%1}").arg(seq).toUtf8();
}

} // namespace

// Messages given while the broker is down wait and arrive, every one and in
// the order given, once it comes up; then closing ends with nothing left over.
// (The subscriber's session outlives the broker's restart, so it misses nothing
// the publisher sends at once.)
TEST(MqttPublisher, brokerDownAtFirst_messagesArriveInOrderOnceItIsUp)
{
    ASSERT_TRUE(haveBrokerPrograms()) << "mosquitto and mosquitto-clients are needed (scripts/lib/deps.sh)";
    QTemporaryDir dir;
    const int port = broker_test::freePort();
    broker_test::MosquittoBroker broker(dir.path(),
        QStringLiteral("listener %1 127.0.0.1\npersistence true\npersistence_location %2/\n")
            .arg(port)
            .arg(dir.path()));
    ASSERT_TRUE(broker.start(port)) << qPrintable(broker.log());
    broker_test::Subscriber subscriber(
        port, QStringLiteral("lab/publisher"), QStringLiteral("omvara-test-sub"));
    ASSERT_TRUE(subscriber.waitUntilSubscribed());
    broker.stop();

    Recorded recorded;
    MqttPublisher publisher(to(port, QStringLiteral("lab/publisher")), recorded.events());
    publisher.start();
    for (qint64 seq = 1; seq <= 50; ++seq)
        publisher.publish(message(seq));
    ASSERT_TRUE(recorded.waitFor([](const Recorded &r) { return r.failed() > 0; }));
    EXPECT_EQ(recorded.connected(), 0);
    for (qint64 seq = 51; seq <= 60; ++seq)
        publisher.publish(message(seq));

    ASSERT_TRUE(broker.start(port)) << qPrintable(broker.log());
    ASSERT_TRUE(recorded.waitFor([](const Recorded &r) { return r.connected() > 0; }));
    ASSERT_TRUE(subscriber.waitForSeqs(60)) << subscriber.seqsOnce().size() << " of 60";
    EXPECT_EQ(subscriber.seqsOnce(), broker_test::oneTo(60));

    publisher.close();
    EXPECT_EQ(recorded.ends(), 1);
    EXPECT_EQ(recorded.undelivered(), 0u);
    EXPECT_EQ(publisher.droppedCount(), 0u);
}

// With no broker at all, the deadline ends the thread: the ended event counts
// every message never acknowledged, the ones dropped from the full queue
// apart, and those are counted on their own.
TEST(MqttPublisher, deadlineWithoutBroker_endedCountsTheUnacknowledged)
{
    const int port = broker_test::freePort(); // nothing listens there
    Recorded recorded;
    MqttPublisher publisher(to(port, QStringLiteral("lab/nobody")), recorded.events());
    publisher.start();
    ASSERT_TRUE(recorded.waitFor([](const Recorded &r) { return r.failed() > 0; }));

    const qint64 given = qint64(MqttPublisher::Capacity) + 3;
    for (qint64 seq = 1; seq <= given; ++seq)
        publisher.publish(message(seq));
    EXPECT_EQ(publisher.droppedCount(), 3u);

    publisher.endBy(std::chrono::steady_clock::now());
    publisher.close();
    EXPECT_EQ(recorded.ends(), 1);
    EXPECT_EQ(recorded.undelivered(), quint64(MqttPublisher::Capacity));
    EXPECT_EQ(recorded.dropped(), 3u);
    EXPECT_EQ(recorded.connected(), 0);

    // After the end, nothing more is taken.
    publisher.publish(message(given + 1));
    EXPECT_EQ(publisher.droppedCount(), 3u);
}
