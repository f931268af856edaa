#include "menubar/TrayHostWatcher.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <memory>

namespace kmb {

namespace {
const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
constexpr int pollIntervalMs = 500;
} // namespace

TrayHostWatcher::TrayHostWatcher(QObject* parent) : QObject(parent)
{
    m_pollTimer.setInterval(pollIntervalMs);
    connect(&m_pollTimer, &QTimer::timeout, this, &TrayHostWatcher::poll);
    m_noHostTimer.setSingleShot(true);
    m_noHostTimer.setInterval(noHostAfterMs);
    connect(&m_noHostTimer, &QTimer::timeout, this, &TrayHostWatcher::noHostFound);
}

void TrayHostWatcher::start()
{
    poll();
    if (m_ready)
        return;
    m_pollTimer.start();
    m_noHostTimer.start();
}

bool TrayHostWatcher::xembedTrayPresent() const
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return false;
    xcb_connection_t* connection = x11->connection();
    const int screenNumber = 0;
    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(screenNumber);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&free)> atom(
        xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, name.size(), name.constData()), nullptr),
        &free);
    if (!atom)
        return false;
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&free)> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom),
                                      nullptr),
        &free);
    return owner && owner->owner != XCB_NONE;
}

void TrayHostWatcher::poll()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (m_ready || m_sniQueryPending)
        return;
    if (!bus.isConnected()) {
        if (xembedTrayPresent())
            markReady(Host::xembed);
        return;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcherService, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << watcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    // Asynchronous: a stuck watcher must not stall the event loop.
    m_sniQueryPending = true;
    auto* call = new QDBusPendingCallWatcher(bus.asyncCall(get, pollIntervalMs * 4), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        m_sniQueryPending = false;
        QDBusPendingReply<QDBusVariant> reply = *w;
        if (!reply.isError() && reply.value().variant().toBool())
            markReady(Host::statusNotifier);
        else if (xembedTrayPresent())
            markReady(Host::xembed);
        w->deleteLater();
    });
}

void TrayHostWatcher::markReady(Host host)
{
    if (m_ready)
        return;
    m_ready = true;
    m_pollTimer.stop();
    m_noHostTimer.stop();
    emit ready(host);
}

} // namespace kmb
