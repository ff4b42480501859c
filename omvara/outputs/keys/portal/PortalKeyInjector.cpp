// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/outputs/keys/portal/PortalKeyInjector.h"

#include "omvara/outputs/keys/LayoutKeyInjector.h"
#include "omvara/outputs/keys/PermissionWait.h"
#include "omvara/outputs/keys/SessionLayout.h"
#include "omvara/outputs/keys/portal/PortalRequest.h"
#include "omvara/util/Interruption.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <linux/input-event-codes.h>

#include <atomic>
#include <chrono>
#include <mutex>

namespace omvara::outputs::keys {

namespace {

using namespace std::chrono_literals;

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString remoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
constexpr uint keyboardDevice = 1;
constexpr uint persistUntilRevoked = 2;
// Calls that answer at once (the dialog's answer comes as a signal).
constexpr int callTimeoutMs = 10000;

QDBusMessage portalCall(const QString &method, const QVariantList &arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(portalService, portalPath, remoteDesktop, method);
    message.setArguments(arguments);
    return message;
}

QString errorText(const QDBusMessage &reply)
{
    return reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
}

QVariant property(QDBusConnection &bus, const QString &name, QString *error)
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        portalService, portalPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get.setArguments({ remoteDesktop, name });
    const QDBusMessage reply = bus.call(get, QDBus::Block, callTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        *error = errorText(reply);
        return {};
    }
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

QString readToken()
{
    QFile file(portalRestoreTokenPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.read(4096)).trimmed();
}

void writeToken(const QString &token)
{
    const QString path = portalRestoreTokenPath();
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return;
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(token.toUtf8() + '\n');
    file.commit();
}

// One portal session of our own on the session bus.
class PortalSession
{
public:
    explicit PortalSession(QDBusConnection bus)
        : m_bus(std::move(bus))
    {
        QString sender = m_bus.baseService().mid(1);
        m_sender = sender.replace(u'.', u'_');
    }

    // Calls `method` of the portal, whose answer comes through a request
    // object, and waits for the answer: `limit` (zero: no limit), telling
    // PermissionWait after `tellAfter` when `question` is not empty.
    PortalRequest::Answer request(const QString &method, QVariantList arguments, QVariantMap options,
        std::chrono::milliseconds limit, const QString &question = {},
        std::chrono::milliseconds tellAfter = 300ms)
    {
        const QString token = QStringLiteral("omvara%1").arg(++m_tokens);
        options.insert(QStringLiteral("handle_token"), token);
        arguments.append(options);
        const QString predicted
            = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(m_sender, token);
        PortalRequest catcher;
        const auto listen = [&](const QString &path) {
            return m_bus.connect(QString(), path, QStringLiteral("org.freedesktop.portal.Request"),
                QStringLiteral("Response"), &catcher, SLOT(response(uint, QVariantMap)));
        };
        // Listening before the call: the answer may come before the reply.
        listen(predicted);
        const QDBusMessage reply = m_bus.call(portalCall(method, arguments), QDBus::Block, callTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage)
            throw KeyboardUnavailableError(
                QStringLiteral("portal: %1 failed (%2)").arg(method, errorText(reply)));
        const QString handle = reply.arguments().value(0).value<QDBusObjectPath>().path();
        if (!handle.isEmpty() && handle != predicted)
            listen(handle); // a portal older than request tokens

        // The answer is a signal for `catcher`, delivered by this thread's
        // events (a loop object gives a thread not started by Qt its own).
        QEventLoop events;
        const auto begin = std::chrono::steady_clock::now();
        bool told = false;
        while (!catcher.answer) {
            events.processEvents(QEventLoop::AllEvents, 20);
            if (catcher.answer)
                break;
            const auto waited = std::chrono::steady_clock::now() - begin;
            if (!told && !question.isEmpty() && waited >= tellAfter) {
                told = true;
                PermissionWait::waiting(question);
            }
            if (limit > 0ms && waited >= limit) {
                closeRequest(handle.isEmpty() ? predicted : handle);
                throw KeyboardUnavailableError(
                    QStringLiteral("portal: no answer to %1 within %2 s")
                        .arg(method == QLatin1String("Start") ? QStringLiteral("the request for permission")
                                                              : method)
                        .arg(limit.count() / 1000));
            }
            try {
                util::Interruption::sleep(10ms);
            } catch (const util::InterruptedError &) {
                closeRequest(handle.isEmpty() ? predicted : handle);
                throw;
            }
        }
        return *catcher.answer;
    }

    void setHandle(const QString &handle) { m_handle = handle; }
    const QString &handle() const { return m_handle; }
    QDBusConnection &bus() { return m_bus; }

    void close()
    {
        if (m_handle.isEmpty())
            return;
        QDBusMessage message = QDBusMessage::createMethodCall(portalService, m_handle,
            QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Close"));
        m_bus.call(message, QDBus::Block, 2000);
        m_handle.clear();
    }

private:
    // Takes back a request the user has not answered (the dialog closes).
    void closeRequest(const QString &path)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(
            portalService, path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Close"));
        m_bus.call(message, QDBus::Block, 2000);
    }

    QDBusConnection m_bus;
    QString m_sender;
    QString m_handle;
    int m_tokens = 0;
};

class PortalKeyInjector : public LayoutKeyInjector
{
public:
    PortalKeyInjector(
        std::unique_ptr<PortalSession> session, std::unique_ptr<LayoutKeymap> keymap, QString layoutName)
        : m_session(std::move(session))
        , m_keymap(std::move(keymap))
        , m_layoutName(std::move(layoutName))
    {
    }
    ~PortalKeyInjector() override { m_session->close(); }

    QString name() const override { return QStringLiteral("portal"); }
    // The portal reads nothing back from the keyboard.
    bool capsLockOn() override { return false; }

    // The session's first key may be lost: a harmless one goes first.
    void warmUp()
    {
        notify(KEY_LEFTSHIFT, true);
        notify(KEY_LEFTSHIFT, false);
        util::Interruption::sleep(100ms);
    }

protected:
    const LayoutKeymap *currentKeymap() override { return m_keymap.get(); }
    QString knownLayoutName() const override { return m_keymap ? m_layoutName : QString(); }
    void sendKey(int, int physicalKey, bool down) override { notify(physicalKey, down); }

private:
    void notify(int code, bool down)
    {
        std::lock_guard lock(m_mutex);
        if (!m_lostReason.isEmpty())
            throw KeyboardLostError(m_lostReason);
        QDBusMessage message = portalCall(QStringLiteral("NotifyKeyboardKeycode"),
            { QVariant::fromValue(QDBusObjectPath(m_session->handle())), QVariantMap(), code,
                uint(down ? 1 : 0) });
        const QDBusMessage reply = m_session->bus().call(message, QDBus::Block, callTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage) {
            m_lostReason
                = QStringLiteral("portal: the desktop takes no more keys (%1)").arg(errorText(reply));
            throw KeyboardLostError(m_lostReason);
        }
    }

    std::mutex m_mutex;
    std::unique_ptr<PortalSession> m_session;
    std::unique_ptr<LayoutKeymap> m_keymap;
    QString m_layoutName;
    QString m_lostReason;
};

bool sessionBusAddressKnown()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

} // namespace

QString portalRestoreTokenPath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/omvara/portal-restore-token");
}

std::unique_ptr<KeyInjector> openPortalKeyInjector()
{
    if (!sessionBusAddressKnown())
        throw KeyboardUnavailableError(QStringLiteral("portal: no session bus (DBUS_SESSION_BUS_ADDRESS is "
                                                      "not set: not started in a desktop session)"));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        throw KeyboardUnavailableError(
            QStringLiteral("portal: cannot reach the session bus (%1)").arg(bus.lastError().message()));

    QString error;
    const QVariant version = property(bus, QStringLiteral("version"), &error);
    if (!version.isValid())
        throw KeyboardUnavailableError(
            QStringLiteral("portal: the desktop offers no RemoteDesktop portal (%1)").arg(error));
    const QVariant devices = property(bus, QStringLiteral("AvailableDeviceTypes"), &error);
    if (devices.isValid() && !(devices.toUInt() & keyboardDevice))
        throw KeyboardUnavailableError(
            QStringLiteral("portal: the desktop's RemoteDesktop portal offers no keyboard"));

    QString layoutName;
    std::unique_ptr<LayoutKeymap> keymap = desktopKeymap(QStringLiteral("portal"), &layoutName);

    auto session = std::make_unique<PortalSession>(bus);
    PortalRequest::Answer answer = session->request(QStringLiteral("CreateSession"), {},
        { { QStringLiteral("session_handle_token"), QStringLiteral("omvara") } }, 30s);
    if (answer.code != 0)
        throw KeyboardUnavailableError(
            QStringLiteral("portal: the desktop refused a session (answer %1)").arg(answer.code));
    const QVariant handle = answer.results.value(QStringLiteral("session_handle"));
    session->setHandle(
        handle.canConvert<QDBusObjectPath>() && handle.userType() == qMetaTypeId<QDBusObjectPath>()
            ? handle.value<QDBusObjectPath>().path()
            : handle.toString());
    if (session->handle().isEmpty())
        throw KeyboardUnavailableError(QStringLiteral("portal: the desktop gave no session"));

    // Closes the session on every way out until the injector owns it.
    struct Closer
    {
        PortalSession *session;
        ~Closer()
        {
            if (session)
                session->close();
        }
    } closer { session.get() };

    QVariantMap select { { QStringLiteral("types"), keyboardDevice } };
    // Version 1 knows no persistence: the desktop may ask at every start.
    if (version.toUInt() >= 2) {
        select.insert(QStringLiteral("persist_mode"), persistUntilRevoked);
        const QString token = readToken();
        if (!token.isEmpty())
            select.insert(QStringLiteral("restore_token"), token);
    }
    answer = session->request(QStringLiteral("SelectDevices"),
        { QVariant::fromValue(QDBusObjectPath(session->handle())) }, select, 30s);
    if (answer.code != 0)
        throw KeyboardUnavailableError(
            QStringLiteral("portal: the desktop refused the keyboard (answer %1)").arg(answer.code));

    answer = session->request(QStringLiteral("Start"),
        { QVariant::fromValue(QDBusObjectPath(session->handle())), QString() }, {}, PermissionWait::limit(),
        QStringLiteral("answer the desktop's dialog"));
    if (answer.code == 1)
        throw KeyboardUnavailableError(QStringLiteral("portal: permission to type was not given"));
    if (answer.code != 0)
        throw KeyboardUnavailableError(
            QStringLiteral("portal: the desktop did not start typing (answer %1)").arg(answer.code));
    if (!(answer.results.value(QStringLiteral("devices")).toUInt() & keyboardDevice))
        throw KeyboardUnavailableError(QStringLiteral("portal: the desktop granted no keyboard"));
    const QString token = answer.results.value(QStringLiteral("restore_token")).toString();
    if (!token.isEmpty())
        writeToken(token);

    closer.session = nullptr;
    auto injector = std::make_unique<PortalKeyInjector>(std::move(session), std::move(keymap), layoutName);
    injector->warmUp();
    return injector;
}

} // namespace omvara::outputs::keys
