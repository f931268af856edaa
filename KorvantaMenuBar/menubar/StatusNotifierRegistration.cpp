#include "menubar/StatusNotifierRegistration.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QTimer>

namespace kmb {

namespace {
const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
constexpr int callTimeoutMs = 2000;

QString itemNamePrefix(qint64 pid)
{
    // Qt names its tray items org.kde.StatusNotifierItem-<pid>-<n>.
    return QStringLiteral("org.kde.StatusNotifierItem-%1-").arg(pid);
}

// Qt's tray items each talk over a connection of their own, named after the item
// ("org.kde.StatusNotifierItem-<pid>-<n>", n from 1), and register with the watcher under
// that connection's unique name.
QList<QDBusConnection> trayItemConnections(qint64 pid)
{
    QList<QDBusConnection> connections;
    for (int n = 1; n <= 8; ++n) {
        QDBusConnection connection(itemNamePrefix(pid) + QString::number(n));
        if (connection.isConnected())
            connections << connection;
    }
    return connections;
}

template <typename Handler>
void callAsync(const QDBusMessage& message, QObject* context, Handler handler)
{
    auto* call = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(message, callTimeoutMs), context);
    QObject::connect(call, &QDBusPendingCallWatcher::finished, context,
                     [handler](QDBusPendingCallWatcher* w) {
                         handler(*w);
                         w->deleteLater();
                     });
}
} // namespace

StatusNotifierRegistration::StatusNotifierRegistration(QObject* parent)
    : QObject(parent), m_watcher(watcherService, QDBusConnection::sessionBus(),
                                 QDBusServiceWatcher::WatchForRegistration)
{
    connect(&m_watcher, &QDBusServiceWatcher::serviceRegistered, this,
            &StatusNotifierRegistration::scheduleChecks);
}

bool StatusNotifierRegistration::listsOurItem(const QStringList& registeredItems,
                                              const QString& uniqueName, qint64 pid)
{
    const QString prefix = itemNamePrefix(pid);
    for (const QString& entry : registeredItems) {
        const QString service = entry.section(QLatin1Char('/'), 0, 0);
        if ((!uniqueName.isEmpty() && service == uniqueName) || service.startsWith(prefix))
            return true;
    }
    return false;
}

void StatusNotifierRegistration::scheduleChecks()
{
    // Give Qt's own registration and a slow watcher time, then look twice.
    QTimer::singleShot(1000, this, &StatusNotifierRegistration::check);
    QTimer::singleShot(4000, this, &StatusNotifierRegistration::check);
}

void StatusNotifierRegistration::check()
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcherService, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << watcherService << QStringLiteral("RegisteredStatusNotifierItems");
    callAsync(get, this, [this](QDBusPendingCallWatcher& w) {
        QDBusPendingReply<QDBusVariant> reply = w;
        if (reply.isError())
            return;
        const QStringList items = reply.value().variant().toStringList();
        const qint64 pid = QCoreApplication::applicationPid();
        bool listed = listsOurItem(items, QDBusConnection::sessionBus().baseService(), pid);
        for (const QDBusConnection& connection : trayItemConnections(pid))
            listed = listed || listsOurItem(items, connection.baseService(), pid);
        if (!listed)
            registerAgain();
    });
}

void StatusNotifierRegistration::registerAgain()
{
    // As Qt does it: the item's own connection names its unique name.
    for (QDBusConnection connection : trayItemConnections(QCoreApplication::applicationPid())) {
        QDBusMessage registration =
            QDBusMessage::createMethodCall(watcherService, watcherPath, watcherService,
                                           QStringLiteral("RegisterStatusNotifierItem"));
        registration << connection.baseService();
        connection.asyncCall(registration, callTimeoutMs);
    }
    QDBusMessage list = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames"));
    callAsync(list, this, [this](QDBusPendingCallWatcher& w) {
        QDBusPendingReply<QStringList> reply = w;
        if (reply.isError())
            return;
        const QString prefix = itemNamePrefix(QCoreApplication::applicationPid());
        for (const QString& name : reply.value()) {
            if (!name.startsWith(prefix))
                continue;
            QDBusMessage registration =
                QDBusMessage::createMethodCall(watcherService, watcherPath, watcherService,
                                               QStringLiteral("RegisterStatusNotifierItem"));
            registration << name;
            callAsync(registration, this, [](QDBusPendingCallWatcher&) {});
        }
    });
}

} // namespace kmb
