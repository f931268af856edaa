#include "menubar/DesktopNotifications.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>

namespace kmb {

namespace {
const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString desktopEntry = QStringLiteral("com.korvanta.KorvantaMenuBar");
const QString defaultAction = QStringLiteral("default");
constexpr int callTimeoutMs = 5000;
constexpr uchar normalUrgency = 1;
constexpr qsizetype maxInvokedEarly = 16;
} // namespace

DesktopNotifications::DesktopNotifications(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus))
{
    m_bus.connect(service, path, service, QStringLiteral("ActionInvoked"), this,
                  SLOT(actionInvoked(uint, QString)));
    m_bus.connect(service, path, service, QStringLiteral("NotificationClosed"), this,
                  SLOT(notificationClosed(uint)));
}

void DesktopNotifications::send(Notification notification)
{
    QDBusMessage notify =
        QDBusMessage::createMethodCall(service, path, service, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), desktopEntry},
                            {QStringLiteral("urgency"), QVariant::fromValue(normalUrgency)}};
    notify << QStringLiteral("Korvanta") << uint(0) << desktopEntry << notification.summary
           << notification.body << QStringList{defaultAction, notification.actionLabel} << hints
           << -1;
    auto* call = new QDBusPendingCallWatcher(m_bus.asyncCall(notify, callTimeoutMs), this);
    connect(call, &QDBusPendingCallWatcher::finished, this,
            [this, onAction = std::move(notification.onAction)](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusPendingReply<uint> reply = *w;
                if (reply.isError()) {
                    qWarning().noquote() << "No desktop notification shown, no notification "
                                            "service on the session bus:"
                                         << reply.error().message();
                    return;
                }
                if (m_invokedEarly.removeAll(reply.value()) > 0 && onAction && !m_withdrawn)
                    onAction();
                m_shown.insert(reply.value(), onAction);
                // Sent before a tray came up and answered after: withdrawn at once.
                if (m_withdrawn)
                    closeAll();
            });
}

void DesktopNotifications::closeAll()
{
    m_withdrawn = true;
    for (auto it = m_shown.cbegin(); it != m_shown.cend(); ++it) {
        QDBusMessage close = QDBusMessage::createMethodCall(service, path, service,
                                                            QStringLiteral("CloseNotification"));
        close << it.key();
        m_bus.asyncCall(close, callTimeoutMs);
    }
    m_shown.clear();
}

void DesktopNotifications::actionInvoked(uint id, const QString& actionKey)
{
    if (actionKey != defaultAction)
        return;
    const auto it = m_shown.constFind(id);
    if (it == m_shown.cend()) {
        m_invokedEarly.append(id);
        if (m_invokedEarly.size() > maxInvokedEarly)
            m_invokedEarly.removeFirst();
        return;
    }
    const std::function<void()> onAction = it.value();
    if (onAction)
        onAction();
}

void DesktopNotifications::notificationClosed(uint id)
{
    m_shown.remove(id);
}

} // namespace kmb
