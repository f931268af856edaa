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
        if (!listsOurItem(items, QDBusConnection::sessionBus().baseService(),
                          QCoreApplication::applicationPid()))
            registerAgain();
    });
}

void StatusNotifierRegistration::registerAgain()
{
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
