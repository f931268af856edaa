#include "menubar/MenuBarController.h"

#include "companion/KorvantaContract.h"
#include "menubar/LowDiskPromptScheduler.h"
#include "menubar/LowDiskSpaceRule.h"
#include "menubar/PopupLogging.h"
#include "menubar/StatusNotifierRegistration.h"
#include "menubar/TrayHostWatcher.h"
#include "status/SystemStatusMonitor.h"
#include "views/AboutWindowController.h"
#include "views/AppIcon.h"
#include "views/MenuBarPanelView.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

namespace kmb {

MenuBarController::MenuBarController(Dependencies dependencies, QObject* parent)
    : QObject(parent),
      m_systemMonitor(new SystemStatusMonitor(std::move(dependencies.sampler), this)),
      m_launchCompanion(std::move(dependencies.launchCompanion))
{
    m_clock.start();
    auto currentDay = dependencies.currentDayString ? std::move(dependencies.currentDayString)
                                                    : std::function<QString()>(currentDayString);
    // A check shows the prompt only under an icon (once there is one) and never over an open
    // dashboard.
    auto checkAnchor = [this]() -> std::optional<QRect> {
        if ((m_trayHostWatcher && !m_statusItem) || isDashboardShown())
            return std::nullopt;
        return currentAnchor();
    };
    m_lowDiskPrompt =
        new LowDiskPromptScheduler(m_systemMonitor, DayRecordStore(dependencies.settingsPath),
                                   std::move(checkAnchor), std::move(currentDay), this);
    connect(m_lowDiskPrompt, &LowDiskPromptScheduler::openCompanionRequested, this,
            &MenuBarController::closePopoversAndOpenCompanion);
    connect(
        m_lowDiskPrompt, &LowDiskPromptScheduler::lowDiskPopoverClosedByOutsidePress, this,
        [this](QPoint position) { popupClosedByOutsidePress(TrayPopup::lowDiskPrompt, position); });
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
    // A top-level popup has no parent; it goes with the controller.
    delete m_popover;
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
                qCDebug(lcPopup) << "icon activated" << reason;
                // A press soon after the previous one comes as a double click (e.g. when
                // Esc closed the popup just before): it is a click on the icon all the same.
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    togglePopover(QCursor::pos());
            });
    updateTrayContextMenu();
    m_statusItem->show();
    if (QDBusConnection::sessionBus().isConnected())
        new StatusNotifierRegistration(this);
}

void MenuBarController::updateTrayContextMenu()
{
    if (!m_statusItem || !m_settingsMenu || m_trayMenu)
        return;
    m_trayMenu = std::make_unique<QMenu>();
    m_trayMenu->setObjectName(QStringLiteral("trayMenu"));
    m_trayMenu->addAction(tr("打开面板"), this, &MenuBarController::showDashboard);
    m_trayMenu->addSeparator();
    // Entries of its own that trigger the settings menu's: an action shown in two menus
    // is announced by screen readers as belonging to the one read first.
    for (QAction* action : m_settingsMenu->actions()) {
        if (action->isSeparator())
            m_trayMenu->addSeparator();
        else
            m_trayMenu->addAction(action->text(), action, &QAction::trigger);
    }
    m_statusItem->setContextMenu(m_trayMenu.get());
}

void MenuBarController::setupPopover()
{
    auto* popover =
        new PopupWindow(QSize(MenuBarPanelView::panelWidth, MenuBarPanelView::panelHeight));
    popover->setObjectName(QStringLiteral("dashboardPopover"));
    popover->setAccessibleName(QStringLiteral("Korvanta"));
    popover->setContent(new MenuBarPanelView(
        m_systemMonitor, [this] { closePopoversAndOpenCompanion(); },
        [] { QCoreApplication::quit(); }, [this] { return m_settingsMenu.get(); }));
    connect(popover, &PopupWindow::closedByOutsidePress, this,
            [this](QPoint position) { popupClosedByOutsidePress(TrayPopup::dashboard, position); });
    delete m_popover;
    m_popover = popover;
}

namespace {
// A native Wayland client learns neither where the tray shows the icon nor where the pointer
// is (QCursor::pos() is stale there): its popups open centred on the primary screen.
bool onNativeWayland()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}
} // namespace

std::optional<QRect> MenuBarController::iconGeometry() const
{
    if (!m_statusItem)
        return std::nullopt;
    const QRect geometry = m_statusItem->geometry();
    if (!geometry.isValid() || geometry.isEmpty())
        return std::nullopt;
    return geometry;
}

QRect MenuBarController::anchorRect(const QPoint& clickPosition) const
{
    if (onNativeWayland())
        return {};
    return iconGeometry().value_or(QRect(clickPosition, QSize(1, 1)));
}

QRect MenuBarController::currentAnchor() const
{
    if (onNativeWayland())
        return {};
    if (const std::optional<QRect> icon = iconGeometry())
        return *icon;
    if (!m_lastClickPosition.isNull())
        return QRect(m_lastClickPosition, QSize(1, 1));
    // Never clicked and no geometry: the top-right corner, where trays usually sit.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1, 1);
    return QRect(available.topRight(), QSize(1, 1));
}

void MenuBarController::closeDashboard()
{
    if (m_popover)
        m_popover->performClose();
}

void MenuBarController::togglePopover(const QPoint& clickPosition)
{
    if (!m_popover)
        return;
    const auto closingPress = m_clicks.takeClosingPress(clickPosition, m_clock.elapsed());
    m_clicks.noteIconClick(clickPosition);
    m_lastClickPosition = clickPosition;
    // The press of this very click closed a popup already.
    if (closingPress) {
        qCDebug(lcPopup) << "click already closed a popup";
        if (!closingPress->onIcon)
            iconClickClosedPopup(closingPress->closed, clickPosition);
        return;
    }
    if (m_lowDiskPrompt->isPromptShown()) {
        m_lowDiskPrompt->dismissLowDiskPrompt();
        return;
    }
    if (m_lowDiskPrompt->shouldShowLowDiskPrompt()) {
        closeDashboard();
        m_lowDiskPrompt->showLowDiskPrompt(anchorRect(clickPosition));
        return;
    }
    if (isDashboardShown()) {
        closeDashboard();
        return;
    }
    m_popover->showRelativeTo(anchorRect(clickPosition));
}

void MenuBarController::popupClosedByOutsidePress(TrayPopup popup, const QPoint& position)
{
    const bool onIcon =
        m_clicks.notePopupClosedByPress(popup, position, iconGeometry(), m_clock.elapsed());
    qCDebug(lcPopup) << "outside press" << position << (onIcon ? "on the icon" : "");
    // Once the closing press has been dealt with: no popup opens in the middle of it.
    if (onIcon)
        QTimer::singleShot(0, this,
                           [this, popup, position] { iconClickClosedPopup(popup, position); });
}

void MenuBarController::iconClickClosedPopup(TrayPopup popup, const QPoint& position)
{
    // Closing the prompt, or the dashboard, is all such a click does; unless it closed the
    // dashboard while the prompt is due, which the click then shows.
    if (popup == TrayPopup::dashboard && m_lowDiskPrompt->shouldShowLowDiskPrompt())
        m_lowDiskPrompt->showLowDiskPrompt(anchorRect(position));
}

void MenuBarController::showDashboard()
{
    if (!m_popover)
        return;
    // Asked for the dashboard: an open prompt (its day already recorded) gives way to it.
    m_lowDiskPrompt->dismissLowDiskPrompt();
    if (m_lowDiskPrompt->shouldShowLowDiskPrompt()) {
        closeDashboard();
        m_lowDiskPrompt->showLowDiskPrompt(currentAnchor());
        return;
    }
    if (!isDashboardShown())
        m_popover->showRelativeTo(currentAnchor());
}

void MenuBarController::startLowDiskSpaceMonitoring()
{
    m_lowDiskPrompt->startLowDiskSpaceMonitoring();
}

bool MenuBarController::shouldShowLowDiskPrompt() const
{
    return m_lowDiskPrompt->shouldShowLowDiskPrompt();
}

void MenuBarController::closePopoversAndOpenCompanion()
{
    closeDashboard();
    m_lowDiskPrompt->dismissLowDiskPrompt();
    openCompanionApp(korvanta::openArguments());
}

void MenuBarController::openCompanionApp(const QStringList& arguments)
{
    if (m_launchCompanion)
        m_launchCompanion(arguments);
}

void MenuBarController::setupSettingsMenu()
{
    auto menu = std::make_unique<QMenu>();
    menu->setObjectName(QStringLiteral("settingsMenu"));
    menu->addAction(tr("关于 Korvanta"), this, &MenuBarController::showAbout);
    menu->addAction(tr("提供反馈…"), this, &MenuBarController::showFeedback);
    menu->addSeparator();
    menu->addAction(tr("退出状态栏"), this, &MenuBarController::quitFromMenu);
    m_settingsMenu = std::move(menu);
    updateTrayContextMenu();
}

void MenuBarController::showAbout()
{
    AboutWindowController::shared().show();
}

void MenuBarController::showFeedback()
{
    closeDashboard();
    QTimer::singleShot(feedbackStepDelayMs, this, &MenuBarController::openFeedback);
}

void MenuBarController::openFeedback()
{
    closeDashboard();
    m_lowDiskPrompt->dismissLowDiskPrompt();
    QTimer::singleShot(feedbackStepDelayMs, this,
                       [this] { openCompanionApp(korvanta::feedbackArguments()); });
}

void MenuBarController::quitFromMenu()
{
    closeDashboard();
    QCoreApplication::exit(0);
}

} // namespace kmb
