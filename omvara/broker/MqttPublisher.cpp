// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/broker/MqttPublisher.h"

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace omvara::broker {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int KeepAliveSeconds = 10;
// A connection that has not been accepted this long after it was begun is given up.
constexpr auto ConnectTimeout = 10s;
constexpr auto FirstPause = 500ms;
constexpr auto LongestPause = 10s;
constexpr auto DropReportInterval = 10s;
// Messages handed to libmosquitto at once: its own limit of messages in flight,
// so that it never holds one back and the order stays ours.
constexpr std::size_t Window = 20;

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

int millisecondsUntil(Clock::time_point when, int atMost)
{
    if (when == Clock::time_point::max())
        return atMost;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count();
    return int(std::clamp<long long>(left, 0, atMost));
}

} // namespace

// The libmosquitto client and the connection's life on the publisher's thread.
class MqttPublisher::Client
{
public:
    explicit Client(MqttPublisher &publisher)
        : m_p(publisher)
        , m_topic(publisher.m_connection.topic.toUtf8())
    {
    }
    ~Client()
    {
        if (m_mosq)
            mosquitto_destroy(m_mosq);
    }

    void run();

private:
    enum class State { Disconnected, Connecting, Connected };

    bool setUp(QString *problem);
    bool beginConnect(QString *problem);
    void connectionFailed(const QString &reason);
    void feed();
    void waitForWork(Clock::time_point until);
    QString reasonFor(int rc, int savedErrno) const;
    // Under the publisher's lock: whether the thread is done.
    bool finished(Clock::time_point now) const;
    void reportDrops(bool atEnd);

    static void onConnect(mosquitto *, void *self, int rc) { static_cast<Client *>(self)->connected(rc); }
    static void onDisconnect(mosquitto *, void *self, int)
    {
        static_cast<Client *>(self)->m_state = State::Disconnected;
    }
    static void onPublish(mosquitto *, void *self, int mid)
    {
        static_cast<Client *>(self)->acknowledged(mid);
    }
    static void onLog(mosquitto *, void *self, int level, const char *text)
    {
        if (level == MOSQ_LOG_ERR)
            static_cast<Client *>(self)->m_lastError = QString::fromUtf8(text);
    }
    void connected(int rc);
    void acknowledged(int mid);

    MqttPublisher &m_p;
    const QByteArray m_topic;
    mosquitto *m_mosq = nullptr;
    State m_state = State::Disconnected;
    Clock::time_point m_connectBegun;
    Clock::time_point m_nextAttempt;
    Clock::duration m_pause = FirstPause;
    std::deque<int> m_inFlight; // message ids handed to libmosquitto, oldest first
    QString m_refusal; // the broker's answer when it refused the connection
    QString m_lastError; // libmosquitto's latest error message (TLS details)
    quint64 m_reportedDrops = 0;
    Clock::time_point m_lastDropReport;
};

bool MqttPublisher::Client::setUp(QString *problem)
{
    const MqttConnection &c = m_p.m_connection;
    const QByteArray clientId = c.clientId.toUtf8();
    m_mosq = mosquitto_new(clientId.isEmpty() ? nullptr : clientId.constData(), true, this);
    if (!m_mosq) {
        *problem = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(m_mosq, &Client::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &Client::onDisconnect);
    mosquitto_publish_callback_set(m_mosq, &Client::onPublish);
    mosquitto_log_callback_set(m_mosq, &Client::onLog);
    if (!c.user.isEmpty()) {
        const QByteArray user = c.user.toUtf8();
        const QByteArray password = c.password.toUtf8();
        mosquitto_username_pw_set(
            m_mosq, user.constData(), c.password.isEmpty() ? nullptr : password.constData());
    }
    if (c.tls) {
        int rc = MOSQ_ERR_SUCCESS;
        if (c.caFile.isEmpty()) {
            rc = mosquitto_int_option(m_mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        } else {
            const QByteArray caFile = c.caFile.toLocal8Bit();
            rc = mosquitto_tls_set(m_mosq, caFile.constData(), nullptr, nullptr, nullptr, nullptr);
            if (rc == MOSQ_ERR_INVAL) {
                *problem = QStringLiteral("cannot read the certificate file %1").arg(c.caFile);
                return false;
            }
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            *problem = reasonFor(rc, errno);
            return false;
        }
    }
    return true;
}

bool MqttPublisher::Client::beginConnect(QString *problem)
{
    if (!m_mosq && !setUp(problem)) {
        if (m_mosq) {
            mosquitto_destroy(m_mosq);
            m_mosq = nullptr;
        }
        return false;
    }
    m_refusal.clear();
    m_lastError.clear();
    const QByteArray host = m_p.m_connection.host.toUtf8();
    // Resolves the name (which may take a while) and begins the connection
    // without waiting for it; the loop completes it.
    errno = 0;
    const int rc = mosquitto_connect_async(m_mosq, host.constData(), m_p.m_connection.port, KeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        *problem = reasonFor(rc, errno);
        return false;
    }
    m_state = State::Connecting;
    m_connectBegun = Clock::now();
    return true;
}

void MqttPublisher::Client::connected(int rc)
{
    if (rc != 0) {
        // The broker closes the connection after a refusal; the loop then fails with this reason.
        m_refusal = QString::fromUtf8(mosquitto_connack_string(rc));
        return;
    }
    m_state = State::Connected;
    m_pause = FirstPause;
    if (m_p.m_events.connected)
        m_p.m_events.connected();
}

void MqttPublisher::Client::acknowledged(int mid)
{
    const auto it = std::find(m_inFlight.begin(), m_inFlight.end(), mid);
    if (it == m_inFlight.end())
        return;
    m_inFlight.erase(it);
    std::lock_guard lock(m_p.m_mutex);
    m_p.m_inFlight = m_inFlight.size();
}

void MqttPublisher::Client::connectionFailed(const QString &reason)
{
    m_state = State::Disconnected;
    m_nextAttempt = Clock::now() + m_pause;
    m_pause = std::min<Clock::duration>(m_pause * 2, LongestPause);
    if (m_p.m_events.failed)
        m_p.m_events.failed(reason);
}

QString MqttPublisher::Client::reasonFor(int rc, int savedErrno) const
{
    if (!m_refusal.isEmpty())
        return m_refusal;
    if (rc == MOSQ_ERR_ERRNO && savedErrno != 0)
        return QString::fromLocal8Bit(std::strerror(savedErrno));
    if (rc == MOSQ_ERR_TLS && !m_lastError.isEmpty())
        return QStringLiteral("TLS: ") + m_lastError;
    return QString::fromUtf8(mosquitto_strerror(rc));
}

void MqttPublisher::Client::feed()
{
    // Libmosquitto keeps what it was handed until the broker acknowledges
    // it, and sends it again after a reconnect before anything newer.
    while (m_inFlight.size() < Window) {
        Message message;
        {
            std::lock_guard lock(m_p.m_mutex);
            if (m_p.m_waiting.empty())
                return;
            message = std::move(m_p.m_waiting.front());
            m_p.m_waiting.pop_front();
            m_p.m_inFlight = m_inFlight.size() + 1;
        }
        int mid = 0;
        const QByteArray &payload = message.payload;
        const int rc = mosquitto_publish(m_mosq, &mid,
            message.topic.isEmpty() ? m_topic.constData() : message.topic.constData(), int(payload.size()),
            payload.constData(), 1, false);
        if (rc == MOSQ_ERR_SUCCESS) {
            m_inFlight.push_back(mid);
            continue;
        }
        std::lock_guard lock(m_p.m_mutex);
        m_p.m_inFlight = m_inFlight.size();
        if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_NOMEM) {
            // Not taken: it goes again, first, once connected.
            m_p.m_waiting.push_front(std::move(message));
            return;
        }
        // A message the client can never send (too large): it is lost.
        ++m_p.m_dropped;
    }
}

void MqttPublisher::Client::waitForWork(Clock::time_point until)
{
    pollfd fds[2] = { { m_p.m_wakeFd, POLLIN, 0 }, { -1, POLLIN, 0 } };
    nfds_t count = 1;
    if (m_state == State::Connected && m_mosq && mosquitto_socket(m_mosq) >= 0) {
        fds[1].fd = mosquitto_socket(m_mosq);
        count = 2;
    }
    const int timeout = millisecondsUntil(until, 1000);
    if (::poll(fds, count, timeout) > 0 && (fds[0].revents & POLLIN)) {
        eventfd_t value;
        (void)::eventfd_read(m_p.m_wakeFd, &value);
    }
}

bool MqttPublisher::Client::finished(Clock::time_point now) const
{
    return now >= m_p.m_deadline || (m_p.m_closing && m_p.m_waiting.empty() && m_inFlight.empty());
}

void MqttPublisher::Client::reportDrops(bool atEnd)
{
    quint64 dropped = 0;
    {
        std::lock_guard lock(m_p.m_mutex);
        dropped = m_p.m_dropped;
    }
    const Clock::time_point now = Clock::now();
    if (dropped == m_reportedDrops
        || (!atEnd && m_reportedDrops != 0 && now - m_lastDropReport < DropReportInterval))
        return;
    m_reportedDrops = dropped;
    m_lastDropReport = now;
    if (m_p.m_events.dropped)
        m_p.m_events.dropped(dropped);
}

void MqttPublisher::Client::run()
{
    initLibrary();
    m_nextAttempt = Clock::now();
    for (;;) {
        Clock::time_point deadline;
        {
            std::lock_guard lock(m_p.m_mutex);
            if (finished(Clock::now()))
                break;
            deadline = m_p.m_deadline;
        }
        reportDrops(false);

        if (m_state == State::Disconnected) {
            if (Clock::now() < m_nextAttempt) {
                waitForWork(std::min(m_nextAttempt, deadline));
                continue;
            }
            QString problem;
            if (!beginConnect(&problem)) {
                connectionFailed(problem);
                continue;
            }
        }
        if (m_state == State::Connected)
            feed();

        int rc = MOSQ_ERR_SUCCESS;
        errno = 0;
        const bool wasConnecting = m_state == State::Connecting;
        if (m_state == State::Connecting || mosquitto_want_write(m_mosq)) {
            // Connecting (TLS included) or writing: libmosquitto waits for its socket itself.
            rc = mosquitto_loop(m_mosq, millisecondsUntil(deadline, 100), 1);
        } else {
            // Waiting for acknowledgements, or for messages to send.
            waitForWork(deadline);
            errno = 0;
            rc = mosquitto_loop(m_mosq, 0, 1);
        }
        const int savedErrno = errno;
        if (rc != MOSQ_ERR_SUCCESS && wasConnecting && m_refusal.isEmpty()
            && (rc == MOSQ_ERR_KEEPALIVE || rc == MOSQ_ERR_UNKNOWN)) {
            // Libmosquitto gives up on a broker that took the connection and
            // never answered it with a code that names nothing.
            connectionFailed(QStringLiteral("the broker did not answer"));
        } else if (rc != MOSQ_ERR_SUCCESS) {
            connectionFailed(reasonFor(rc, savedErrno));
        } else if (m_state == State::Connecting && Clock::now() - m_connectBegun > ConnectTimeout) {
            mosquitto_disconnect(m_mosq);
            connectionFailed(m_refusal.isEmpty() ? QStringLiteral("the broker did not answer") : m_refusal);
        } else if (m_state == State::Disconnected) {
            // The client noticed the loss itself (its disconnect callback).
            connectionFailed(reasonFor(MOSQ_ERR_CONN_LOST, 0));
        }
    }

    if (m_mosq && m_state == State::Connected) {
        mosquitto_disconnect(m_mosq);
        for (int i = 0; i < 5 && mosquitto_want_write(m_mosq); ++i)
            mosquitto_loop(m_mosq, 20, 1);
    }
    reportDrops(true);
    quint64 undelivered = 0;
    {
        std::lock_guard lock(m_p.m_mutex);
        undelivered = m_p.m_waiting.size() + m_inFlight.size();
        m_p.m_waiting.clear();
        m_p.m_inFlight = 0;
        m_p.m_ended = true;
    }
    if (m_p.m_events.ended)
        m_p.m_events.ended(undelivered);
}

MqttPublisher::MqttPublisher(MqttConnection connection, Events events)
    : m_connection(std::move(connection))
    , m_events(std::move(events))
    , m_wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

MqttPublisher::~MqttPublisher()
{
    endBy(Clock::now());
    close();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void MqttPublisher::start()
{
    if (m_thread.joinable())
        return;
    m_thread = std::thread([this] {
        Client client(*this);
        client.run();
    });
}

void MqttPublisher::wake()
{
    if (m_wakeFd >= 0)
        (void)::eventfd_write(m_wakeFd, 1);
}

void MqttPublisher::publish(QByteArray payload, QByteArray topic)
{
    bool wasEmpty = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_ended)
            return;
        wasEmpty = m_waiting.empty();
        m_waiting.push_back({ std::move(payload), std::move(topic) });
        while (!m_waiting.empty() && m_waiting.size() + m_inFlight > Capacity) {
            m_waiting.pop_front();
            ++m_dropped;
        }
    }
    // The thread takes every waiting message in turn; it only needs waking
    // when it may be idle.
    if (wasEmpty)
        wake();
}

void MqttPublisher::endBy(std::chrono::steady_clock::time_point deadline)
{
    {
        std::lock_guard lock(m_mutex);
        m_deadline = std::min(m_deadline, deadline);
    }
    wake();
}

void MqttPublisher::close()
{
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    wake();
    if (m_thread.joinable())
        m_thread.join();
}

quint64 MqttPublisher::droppedCount() const
{
    std::lock_guard lock(m_mutex);
    return m_dropped;
}

} // namespace omvara::broker
