#include "menubar/MenuBarController.h"

#include "menubar/PopupWindow.h"
#include "menubar/TrayHostWatcher.h"
#include "status/LinuxStatusSampler.h"
#include "views/AppIcon.h"
#include "views/MenuBarPanelView.h"

#include <QApplication>
#include <QCursor>

namespace kmb {

MenuBarController& MenuBarController::shared()
{
    // Created once, on first use, and kept for the life of the process.
    static MenuBarController* const instance = [] {
        Dependencies dependencies;
        dependencies.sampler = LinuxStatusSampler::forThisMachine();
        // Deliberately never destroyed: the process ends with it, and tearing widgets
        // down after QApplication is gone would crash.
        return new MenuBarController(std::move(dependencies));
    }();
    return *instance;
}

MenuBarController::MenuBarController(Dependencies dependencies, QObject* parent)
    : QObject(parent),
      m_systemMonitor(new SystemStatusMonitor(std::move(dependencies.sampler), this))
{
    if (dependencies.useTray) {
        // No tray call before a tray host exists: Qt would settle on a backend too early.
        m_trayHostWatcher = new TrayHostWatcher(this);
        connect(m_trayHostWatcher, &TrayHostWatcher::ready, this,
                &MenuBarController::configureStatusItem);
        m_trayHostWatcher->start();
    }
}

MenuBarController::~MenuBarController()
{
    // Top-level popups have no parent; they go with the controller.
    delete m_popover;
    delete m_lowDiskPopover;
}

void MenuBarController::configureStatusItem()
{
    if (m_statusItem)
        return;
    m_statusItem = new QSystemTrayIcon(this);
    m_statusItem->setIcon(appIcon());
    m_statusItem->setToolTip(QStringLiteral("Korvanta"));
    connect(m_statusItem, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    togglePopover(QCursor::pos());
            });
    m_statusItem->show();
}

void MenuBarController::setupPopover()
{
    auto* popover =
        new PopupWindow(QSize(MenuBarPanelView::panelWidth, MenuBarPanelView::panelHeight));
    popover->setObjectName(QStringLiteral("dashboardPopover"));
    popover->setAccessibleName(QStringLiteral("Korvanta"));
    popover->setContent(new MenuBarPanelView(
        m_systemMonitor, [] {}, [] { QCoreApplication::quit(); }));
    delete m_popover;
    m_popover = popover;
}

QRect MenuBarController::anchorRect(const QPoint& clickPosition) const
{
    if (m_statusItem) {
        const QRect geometry = m_statusItem->geometry();
        if (geometry.isValid() && !geometry.isEmpty())
            return geometry;
    }
    return QRect(clickPosition, QSize(1, 1));
}

void MenuBarController::togglePopover(const QPoint& clickPosition)
{
    if (!m_popover)
        return;
    if (m_lowDiskPopover && m_lowDiskPopover->isShown()) {
        m_lowDiskPopover->performClose();
        return;
    }
    // This click already closed a popup on its way here: it only closes.
    if (m_popover->closedByRecentOutsideClick() ||
        (m_lowDiskPopover && m_lowDiskPopover->closedByRecentOutsideClick()))
        return;
    if (m_popover->isShown()) {
        m_popover->performClose();
        return;
    }
    m_popover->showRelativeTo(anchorRect(clickPosition));
}

} // namespace kmb

namespace kmb {

void MenuBarController::showDashboard()
{
    if (!m_popover || m_popover->isShown())
        return;
    m_popover->showRelativeTo(anchorRect(QCursor::pos()));
}

} // namespace kmb
