// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

// A tiny HTTP/1.1 server on 127.0.0.1 for the update-check tests. It lives on
// the thread that creates it and is served by whatever event loop runs there
// (the fetch under test runs a nested one). It answers at most `maxRequests`
// requests and closes every further connection at once.
class LocalHttpServer : public QObject
{
public:
    enum class Mode {
        Answer, // status line, headers and the whole body at once
        Silent, // accepts the connection, reads the request, never answers
        HeadersThenStall, // headers and the first half of the body, then nothing
        Trickle, // headers, then the body one byte every `trickleMs`
    };

    explicit LocalHttpServer(Mode mode, QByteArray body = {}, int status = 200)
        : m_mode(mode)
        , m_body(std::move(body))
        , m_status(status)
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] { accept(); });
        m_listening = m_server.listen(QHostAddress::LocalHost, 0);
    }

    ~LocalHttpServer() override
    {
        for (const QPointer<QTcpSocket> &s : m_sockets)
            if (s)
                s->abort();
    }

    bool listening() const { return m_listening; }
    QString url(const QString &path = QStringLiteral("/version.xml")) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }
    int requests() const { return m_requests; }
    const QByteArray &lastRequest() const { return m_lastRequest; }

    int maxRequests = 4;
    int trickleMs = 150;
    // Announced length instead of the real one (to claim a huge body).
    qint64 contentLengthOverride = -1;

private:
    void accept()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            m_sockets.append(socket);
            auto request = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket, request] {
                request->append(socket->readAll());
                if (request->size() > 64 * 1024) {
                    socket->abort();
                    return;
                }
                if (!request->contains("\r\n\r\n") || socket->property("answered").toBool())
                    return;
                socket->setProperty("answered", true);
                if (m_requests >= maxRequests) {
                    socket->abort();
                    return;
                }
                ++m_requests;
                m_lastRequest = *request;
                answer(socket);
            });
        }
    }

    QByteArray headers() const
    {
        const qint64 length = contentLengthOverride >= 0 ? contentLengthOverride : m_body.size();
        return "HTTP/1.1 " + QByteArray::number(m_status)
            + " Status\r\n"
              "Content-Type: text/xml\r\n"
              "Content-Length: "
            + QByteArray::number(length)
            + "\r\n"
              "Connection: close\r\n\r\n";
    }

    void answer(QTcpSocket *socket)
    {
        switch (m_mode) {
        case Mode::Answer:
            socket->write(headers() + m_body);
            socket->disconnectFromHost();
            break;
        case Mode::Silent:
            break;
        case Mode::HeadersThenStall:
            socket->write(headers() + m_body.left(m_body.size() / 2));
            break;
        case Mode::Trickle: {
            socket->write(headers());
            auto *timer = new QTimer(socket);
            auto next = std::make_shared<qsizetype>(0);
            QObject::connect(timer, &QTimer::timeout, socket, [this, socket, timer, next] {
                if (*next >= m_body.size()) {
                    timer->stop();
                    socket->disconnectFromHost();
                    return;
                }
                socket->write(m_body.mid((*next)++, 1));
            });
            timer->start(trickleMs);
            break;
        }
        }
    }

    Mode m_mode;
    QByteArray m_body;
    int m_status;
    QTcpServer m_server;
    bool m_listening = false;
    int m_requests = 0;
    QByteArray m_lastRequest;
    QList<QPointer<QTcpSocket>> m_sockets;
};
