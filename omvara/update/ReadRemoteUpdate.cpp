// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/update/ReadRemoteUpdate.h"

#include "omvara/util/Interruption.h"
#include "omvara/util/ProcessProperties.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace omvara::update {

namespace {

// How often a running fetch looks whether its thread was asked to stop.
constexpr int INTERRUPT_POLL_MS = 100;

qint64 parseInteger(const QString &text, const QString &version)
{
    static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
    bool ok = false;
    const qint64 value = integer.match(text).hasMatch() ? text.toLongLong(&ok) : 0;
    if (!ok)
        throw UpdateCheckError(QStringLiteral("Not a version number: \"%1\"").arg(version));
    return value;
}

double parseDecimal(const QString &text)
{
    static const QRegularExpression decimal(
        QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
    bool ok = false;
    const double value = decimal.match(text).hasMatch() ? text.toDouble(&ok) : 0.0;
    if (!ok)
        throw UpdateCheckError(QStringLiteral("Not a decimal number: \"%1\"").arg(text));
    return value;
}

// "a.b.c.rest": the texts before the first, second and third point and the
// whole rest after the third, each a decimal integer.
struct DottedVersion
{
    qint64 part[4];
};

DottedVersion parseDotted(const QString &version)
{
    DottedVersion v {};
    qsizetype start = 0;
    for (int i = 0; i < 3; ++i) {
        const qsizetype point = version.indexOf(u'.', start);
        if (point < 0)
            throw UpdateCheckError(QStringLiteral("Version has fewer than four parts: \"%1\"").arg(version));
        v.part[i] = parseInteger(version.mid(start, point - start), version);
        start = point + 1;
    }
    v.part[3] = parseInteger(version.mid(start), version);
    return v;
}

} // namespace

UpdateCheckError::UpdateCheckError(const QString &message)
    : std::runtime_error(message.toStdString())
{
}

QString ReadRemoteUpdate::productSite()
{
    // Put together here rather than stored as one literal.
    const QStringList labels { QStringLiteral("www"), QStringLiteral("brindlecote"), QStringLiteral("com") };
    return QStringLiteral("https") + QStringLiteral("://") + labels.join(u'.');
}

QString ReadRemoteUpdate::versionFileUrl()
{
    const QString override = util::ProcessProperties::get(QString::fromLatin1(URL_PROPERTY)).trimmed();
    if (!override.isEmpty())
        return override;
    return productSite() + QStringLiteral("/version.xml");
}

QString ReadRemoteUpdate::tagFor(const QString &language)
{
    const QString tag = QString::fromLatin1(TAG);
    return language.isEmpty() ? tag : tag + u'_' + language;
}

ReadRemoteUpdate::ReadRemoteUpdate(QString url, QString currentVersion, QString language)
    : m_url(std::move(url))
    , m_currentVersion(std::move(currentVersion))
    , m_tag(tagFor(language))
{
}

void ReadRemoteUpdate::setTimeouts(int connectTimeoutMs, int readTimeoutMs)
{
    m_connectTimeoutMs = connectTimeoutMs;
    m_readTimeoutMs = readTimeoutMs;
}

QString ReadRemoteUpdate::readURLContent()
{
    const QUrl url(m_url, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        || url.host().isEmpty())
        throw UpdateCheckError(QStringLiteral("Not an http or https address: \"%1\"").arg(m_url));

    QNetworkAccessManager manager;
    manager.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    // HTTP/1.1 reports when the request has gone out, which is where the
    // connect limit ends and the read limit begins.
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);

    const std::unique_ptr<QNetworkReply> reply(manager.get(request));
    // Every handler below has `loop` as its context, so none of them can run
    // once this function's locals are going away.
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QTimer interruptPoll;
    bool reading = false;
    bool interrupted = false;
    QString failure;

    auto giveUp = [&](const QString &why) {
        if (failure.isEmpty())
            failure = why;
        deadline.stop();
        interruptPoll.stop();
        if (!reply->isFinished())
            reply->abort();
        loop.quit();
    };
    auto progressed = [&] {
        if (reading)
            deadline.start(m_readTimeoutMs);
    };

    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        giveUp(reading ? QStringLiteral("Read timed out") : QStringLiteral("Reaching the site timed out"));
    });
    QObject::connect(&interruptPoll, &QTimer::timeout, &loop, [&] {
        if (util::Interruption::interrupted() || QThread::currentThread()->isInterruptionRequested()) {
            interrupted = true;
            giveUp(QStringLiteral("Interrupted"));
        }
    });
    QObject::connect(reply.get(), &QNetworkReply::requestSent, &loop, [&] {
        reading = true;
        deadline.start(m_readTimeoutMs);
    });
    QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, &loop, [&] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > MAX_CONTENT_BYTES)
            giveUp(QStringLiteral("Answer larger than %1 bytes").arg(MAX_CONTENT_BYTES));
        else
            progressed();
    });
    QObject::connect(
        reply.get(), &QNetworkReply::downloadProgress, &loop, [&](qint64 received, qint64 total) {
            if (received > MAX_CONTENT_BYTES || total > MAX_CONTENT_BYTES)
                giveUp(QStringLiteral("Answer larger than %1 bytes").arg(MAX_CONTENT_BYTES));
            else
                progressed();
        });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);

    deadline.start(m_connectTimeoutMs);
    interruptPoll.start(INTERRUPT_POLL_MS);
    if (!reply->isFinished())
        loop.exec();
    deadline.stop();
    interruptPoll.stop();

    if (interrupted)
        throw util::InterruptedError();
    if (!failure.isEmpty())
        throw UpdateCheckError(failure);
    if (reply->error() != QNetworkReply::NoError)
        throw UpdateCheckError(reply->errorString());
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299))
        throw UpdateCheckError(QStringLiteral("HTTP status %1").arg(status.toInt()));
    const QByteArray body = reply->readAll();
    if (body.size() > MAX_CONTENT_BYTES)
        throw UpdateCheckError(QStringLiteral("Answer larger than %1 bytes").arg(MAX_CONTENT_BYTES));
    m_content = QString::fromUtf8(body);
    return m_content;
}

QString ReadRemoteUpdate::findXML(const QString &content, const QString &name)
{
    const QString open = u'<' + name + u'>';
    const QString close = QStringLiteral("</") + name + u'>';
    const qsizetype openAt = content.indexOf(open);
    const qsizetype closeAt = content.indexOf(close);
    if (openAt < 0 || closeAt < 0)
        return QString(QLatin1String(""));
    const qsizetype valueAt = openAt + open.size();
    if (closeAt < valueAt)
        return QString(QLatin1String(""));
    return content.mid(valueAt, closeAt - valueAt).trimmed();
}

bool ReadRemoteUpdate::newerVersionAvailable(const QString &current, const QString &remote)
{
    if (current.isEmpty() || remote.isEmpty() || current == remote)
        return false;
    if (remote.count(u'.') <= 1)
        return parseDecimal(remote) > parseDecimal(current);
    if (current.count(u'.') <= 1)
        return true;
    const DottedVersion c = parseDotted(current);
    const DottedVersion r = parseDotted(remote);
    for (int i = 0; i < 4; ++i) {
        if (r.part[i] != c.part[i])
            return r.part[i] > c.part[i];
    }
    return false;
}

bool ReadRemoteUpdate::compareVersions() const
{
    return newerVersionAvailable(m_currentVersion, m_remoteVersion);
}

bool ReadRemoteUpdate::check()
{
    readURLContent();
    m_remoteVersion = findXML(m_content, m_tag);
    return compareVersions();
}

} // namespace omvara::update
