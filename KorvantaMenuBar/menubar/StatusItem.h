#pragma once

#include "menubar/TrayHostWatcher.h"

#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <optional>

class QMenu;
class QSystemTrayIcon;

namespace kmb {

class StatusNotifierItem;

// The icon in the tray, whichever host shows it: our own StatusNotifierItem, which learns where
// it was clicked, or Qt's tray icon for an XEmbed tray, which reports the icon's geometry.
class StatusItem : public QObject {
    Q_OBJECT

public:
    StatusItem(TrayHostWatcher::Host host, const QIcon& icon, QMenu* menu,
               QObject* parent = nullptr);

    // The icon's geometry, where the tray reports it.
    std::optional<QRect> iconGeometry() const;

signals:
    // A click on the icon, at the point the host passed, if it passed one.
    void clicked(std::optional<QPoint> hostPoint);
    // A point the host passed with a click that asks for nothing (a middle click).
    void hostPointNoted(QPoint point);
    // The token the host handed over for activating our next window.
    void activationTokenProvided(const QString& token);

private:
    QSystemTrayIcon* m_trayIcon = nullptr;
    StatusNotifierItem* m_notifierItem = nullptr;
    QPointer<QMenu> m_menu;
};

} // namespace kmb
