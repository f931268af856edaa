#include "menubar/StatusItem.h"

#include "menubar/PopupLogging.h"
#include "menubar/StatusNotifierItem.h"

#include <QDBusConnection>
#include <QMenu>
#include <QSystemTrayIcon>

namespace kmb {

StatusItem::StatusItem(TrayHostWatcher::Host host, const QIcon& icon, QMenu* menu, QObject* parent)
    : QObject(parent), m_menu(menu)
{
    const QString title = QStringLiteral("Korvanta");
    if (host == TrayHostWatcher::Host::statusNotifier) {
        m_notifierItem = new StatusNotifierItem(QDBusConnection::sessionBus(), this);
        m_notifierItem->setIcon(icon);
        m_notifierItem->setToolTipTitle(title);
        m_notifierItem->setMenu(menu);
        connect(m_notifierItem, &StatusNotifierItem::activated, this, [this](QPoint point) {
            qCDebug(lcPopup) << "icon activated at" << point;
            emit clicked(point);
        });
        connect(m_notifierItem, &StatusNotifierItem::secondaryActivated, this,
                &StatusItem::hostPointNoted);
        // A host that draws no menu of its own asks us to show ours.
        connect(m_notifierItem, &StatusNotifierItem::contextMenuRequested, this,
                [this](QPoint point) {
                    if (m_menu)
                        m_menu->popup(point);
                });
        connect(m_notifierItem, &StatusNotifierItem::activationTokenProvided, this,
                &StatusItem::activationTokenProvided);
        return;
    }
    m_trayIcon = new QSystemTrayIcon(icon, this);
    m_trayIcon->setToolTip(title);
    m_trayIcon->setContextMenu(menu);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                qCDebug(lcPopup) << "icon activated" << reason;
                // A press soon after the previous one comes as a double click (e.g. when
                // Esc closed the popup just before): it is a click on the icon all the same.
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    emit clicked(std::nullopt);
            });
    m_trayIcon->show();
}

std::optional<QRect> StatusItem::iconGeometry() const
{
    if (!m_trayIcon)
        return std::nullopt;
    const QRect geometry = m_trayIcon->geometry();
    if (!geometry.isValid())
        return std::nullopt;
    return geometry;
}

} // namespace kmb
