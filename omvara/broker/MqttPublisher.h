// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace omvara::broker {

// Where and how to publish.
struct MqttConnection
{
    QString host;
    int port = 1883;
    bool tls = false;
    QString caFile; // with tls: the authorities to trust; empty: the system's
    QString user; // empty: no user name (and no password)
    QString password;
    QString clientId; // at most 23 characters
    QString topic;
};

// Publishes messages to one topic of an MQTT broker with QoS 1, in the order
// they were given, through libmosquitto on a thread of its own, which also
// does every connect, read and write.
//
// The messages wait in one bounded queue (Capacity) until the broker has
// acknowledged them. While the broker cannot be reached the thread tries
// again after 0.5 s, doubling the pause up to 10 s; a message that was on its
// way when the connection broke is sent again after the reconnect, so a
// subscriber may see it twice. Only when the queue is full is the oldest
// waiting message dropped.
//
// Threads: publish() from any thread, one at a time or not; everything else
// from one thread (the owner's). The events come on the publisher's thread.
class MqttPublisher
{
public:
    static constexpr std::size_t Capacity = 10000;

    struct Events
    {
        // The broker accepted the connection (the first time or again).
        std::function<void()> connected;
        // A connection attempt failed or the connection was lost; `reason`
        // says why. Comes again for every failed attempt.
        std::function<void(const QString &reason)> failed;
        // Messages were dropped from the full queue: `total` so far. At most
        // once every 10 s while it goes on.
        std::function<void(quint64 total)> dropped;
        // The thread ends; `undelivered` messages were not acknowledged
        // (dropped ones not included).
        std::function<void(quint64 undelivered)> ended;
    };

    MqttPublisher(MqttConnection connection, Events events);
    // Ends at once (as endBy(now) and close()).
    ~MqttPublisher();

    MqttPublisher(const MqttPublisher &) = delete;
    MqttPublisher &operator=(const MqttPublisher &) = delete;

    // Starts the thread, which connects at once.
    void start();
    // Queues one message, to `topic` (empty: the connection's topic).
    // Returns at once; never waits for the network.
    void publish(QByteArray payload, QByteArray topic = {});
    // The thread gives up on what is still queued at `deadline` (the
    // earliest deadline given counts). Returns at once.
    void endBy(std::chrono::steady_clock::time_point deadline);
    // No more messages come: the thread ends once the queue is empty (or at
    // the deadline). Waits for the thread to end.
    void close();

    // Messages dropped from the full queue so far.
    quint64 droppedCount() const;

private:
    class Client;

    void wake();

    const MqttConnection m_connection;
    const Events m_events;
    int m_wakeFd = -1;
    std::thread m_thread;

    mutable std::mutex m_mutex;
    struct Message
    {
        QByteArray payload;
        QByteArray topic; // empty: the connection's
    };
    std::deque<Message> m_waiting; // not yet handed to the client
    std::size_t m_inFlight = 0; // handed to the client, not yet acknowledged
    quint64 m_dropped = 0;
    bool m_closing = false;
    bool m_ended = false;
    std::chrono::steady_clock::time_point m_deadline = std::chrono::steady_clock::time_point::max();

    friend class Client;
};

} // namespace omvara::broker
