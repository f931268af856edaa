#pragma once

#include "menubar/TrayDBusTypes.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QIcon>
#include <QObject>
#include <QPoint>

class QMenu;

namespace kmb {

class DBusMenuExporter;
class StatusNotifierItemAdaptor;

// Our tray icon for StatusNotifierItem hosts: the org.kde.StatusNotifierItem object on `bus`
// under org.kde.StatusNotifierItem-<pid>-<n>, registered with the watcher whenever one is on
// the bus, with its menu exported over com.canonical.dbusmenu. Unlike Qt's tray icon it hands
// on the screen position that the host passes with each click. One item per connection: its
// objects have fixed paths.
class StatusNotifierItem : public QObject {
    Q_OBJECT

public:
    explicit StatusNotifierItem(QDBusConnection bus, QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    void setIcon(const QIcon& icon);
    void setToolTipTitle(const QString& title);
    // Exported for hosts that draw the menu themselves; nullptr: no menu. Hosts read whether
    // there is one when they first see the item: set it right after construction.
    void setMenu(QMenu* menu);
    // Whether the watcher accepted us at least once since it last appeared.
    bool isRegistered() const { return m_registered; }

signals:
    void activated(QPoint screenPosition);
    void secondaryActivated(QPoint screenPosition);
    // A host that draws no menu of its own asks for ours at this point.
    void contextMenuRequested(QPoint screenPosition);
    void activationTokenProvided(QString token);
    void registeredChanged(bool registered);

private:
    friend class StatusNotifierItemAdaptor;

    void requestServiceName();
    void watcherOwnerChanged(const QString& newOwner);
    void startRegistration();
    void registerWithWatcher();
    void checkListed();
    void setRegistered(bool registered);

    QDBusConnection m_bus;
    QString m_serviceName;
    StatusNotifierItemAdaptor* m_adaptor = nullptr;
    DBusMenuExporter* m_menuExporter = nullptr;
    QDBusServiceWatcher m_watcherWatcher;
    DBusImageList m_iconImages;
    qint64 m_iconKey = 0;
    QString m_toolTipTitle;
    bool m_serviceNameReady = false;
    bool m_registered = false;
    // Bumped whenever the watcher comes or goes: answers to older calls are dropped.
    int m_generation = 0;
    int m_attempts = 0;
};

} // namespace kmb
