#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

namespace kmb {

// Desktop notifications through org.freedesktop.Notifications, for a desktop without a tray.
// Every call is asynchronous: a slow or missing notification server never holds up the GUI
// thread; without one nothing is shown and the log says so.
class DesktopNotifications : public QObject {
    Q_OBJECT

public:
    struct Notification {
        QString summary;
        QString body;
        QString actionLabel; // the default action, run by `onAction`
        std::function<void()> onAction;
    };

    explicit DesktopNotifications(QDBusConnection bus, QObject* parent = nullptr);

    void send(Notification notification);
    // Withdraws every notification sent so far that is still up.
    void closeAll();

private slots:
    // The server's signals (QtDBus subscribes slots by signature only).
    void actionInvoked(uint id, const QString& actionKey);
    void notificationClosed(uint id);

private:
    QDBusConnection m_bus;
    QHash<uint, std::function<void()>> m_shown;
    // Actions invoked on notifications whose id our Notify call has not answered yet (the
    // server's signal may overtake its reply); a few, as other programs' come too.
    QList<uint> m_invokedEarly;
    bool m_withdrawn = false;
};

} // namespace kmb
