#include "menubar/MenuBarController.h"

#include "companion/KorvantaContract.h"
#include "menubar/DesktopNotifications.h"
#include "menubar/LowDiskPromptScheduler.h"
#include "menubar/LowDiskSpaceRule.h"
#include "menubar/PointerGrab.h"
#include "menubar/PopupLogging.h"
#include "menubar/ScreenLayout.h"
#include "menubar/StatusItem.h"
#include "status/SystemStatusMonitor.h"
#include "views/AboutWindowController.h"
#include "views/AppIcon.h"
#include "views/LowDiskSpacePrompt.h"
#include "views/MenuBarPanelView.h"

#include <QAction>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QInputEvent>
#include <QTimer>

namespace kmb {

namespace {
constexpr int releasePollMs = 50;
constexpr int releasePollLimit = 100; // 5 s: a button held longer is no click
} // namespace

MenuBarController::MenuBarController(Dependencies dependencies, QObject* parent)
    : QObject(parent),
      m_systemMonitor(new SystemStatusMonitor(std::move(dependencies.sampler), this)),
      m_trayMenu(std::make_unique<QMenu>()),
      m_launchCompanion(std::move(dependencies.launchCompanion)),
      m_clockMs(std::move(dependencies.clockMs))
{
    if (!m_clockMs) {
        auto clock = std::make_shared<QElapsedTimer>();
        clock->start();
        m_clockMs = [clock] { return clock->elapsed(); };
    }
    m_releaseWatch.setInterval(releasePollMs);
    connect(&m_releaseWatch, &QTimer::timeout, this, &MenuBarController::watchButtonRelease);
    m_trayMenu->setObjectName(QStringLiteral("trayMenu"));
    m_trayMenu->addAction(tr("打开面板"), this, &MenuBarController::showDashboard);
    m_trayMenu->addSeparator();
    auto currentDay = dependencies.currentDayString ? std::move(dependencies.currentDayString)
                                                    : std::function<QString()>(currentDayString);
    // A check shows the prompt never over an open dashboard, under the icon once there is one,
    // as a notification once it is clear that there will be none.
    auto checkPlace = [this] {
        using Place = LowDiskPromptScheduler::Place;
        if (isDashboardShown())
            return Place{};
        if (m_statusItem || !m_trayHostWatcher)
            return Place{Place::popup, currentAnchor()};
        return Place{m_noTrayHost ? Place::notification : Place::notNow, {}};
    };
    m_lowDiskPrompt =
        new LowDiskPromptScheduler(m_systemMonitor, DayRecordStore(dependencies.settingsPath),
                                   std::move(checkPlace), std::move(currentDay), this);
    connect(m_lowDiskPrompt, &LowDiskPromptScheduler::openCompanionRequested, this,
            &MenuBarController::closePopoversAndOpenCompanion);
    connect(
        m_lowDiskPrompt, &LowDiskPromptScheduler::lowDiskPopoverClosedByOutsidePress, this,
        [this](QPoint position) { popupClosedByOutsidePress(TrayPopup::lowDiskPrompt, position); });
    connect(m_lowDiskPrompt, &LowDiskPromptScheduler::lowDiskPopoverClosedByFocusLoss, this,
            [this] { popupClosedByFocusLoss(TrayPopup::lowDiskPrompt); });
    connect(m_lowDiskPrompt, &LowDiskPromptScheduler::notificationDue, this,
            &MenuBarController::notifyLowDiskSpace);
    // The time of the input that leads to a launch of Korvanta: Qt keeps no public record of it.
    if (qApp)
        qApp->installEventFilter(this);
    if (dependencies.useTray) {
        // No tray call before a tray host exists: Qt would settle on a backend too early.
        m_trayHostWatcher = new TrayHostWatcher(this);
        connect(m_trayHostWatcher, &TrayHostWatcher::ready, this,
                &MenuBarController::configureStatusItem);
        connect(m_trayHostWatcher, &TrayHostWatcher::noHostFound, this,
                &MenuBarController::noTrayHostFound);
        m_trayHostWatcher->start();
    }
}

MenuBarController::~MenuBarController()
{
    // A top-level popup has no parent; it goes with the controller.
    delete m_popover;
}

void MenuBarController::configureStatusItem(TrayHostWatcher::Host host)
{
    if (m_statusItem)
        return;
    m_statusItem = new StatusItem(host, appIcon(), m_trayMenu.get(), this);
    connect(m_statusItem, &StatusItem::clicked, this, &MenuBarController::togglePopover);
    connect(m_statusItem, &StatusItem::activationTokenProvided, this,
            [this](const QString& token) { m_activationToken = token; });
    connect(m_statusItem, &StatusItem::hostPointNoted, this,
            [this](QPoint point) { m_anchor.noteHostPoint(point, currentDesktopLayout()); });
    if (m_notifications) {
        qInfo("A system tray is there now: the status icon is shown.");
        m_notifications->closeAll();
    }
}

void MenuBarController::noTrayHostFound()
{
    if (m_statusItem || m_noTrayHost)
        return;
    m_noTrayHost = true;
    qWarning("No system tray found: the status icon cannot be shown; a desktop notification "
             "says so, and the low-disk warning comes as one until a tray appears.");
    m_notifications = new DesktopNotifications(QDBusConnection::sessionBus(), this);
    m_notifications->send(
        {QStringLiteral("Korvanta"),
         tr("未找到系统托盘，无法显示状态栏图标。在 GNOME 上可启用 AppIndicator 扩展。"),
         tr("打开面板"), [this] { showDashboard(); }});
    // A warning held back while the tray might still come goes out now.
    m_lowDiskPrompt->checkLowDiskSpace();
}

void MenuBarController::notifyLowDiskSpace(const QString& diskName, qint64 availableBytes, qint64)
{
    if (!m_notifications || m_statusItem)
        return;
    const QStringList lines{lowDiskPromptHint(), diskName, promptAvailableText(availableBytes)};
    m_notifications->send({lowDiskPromptHeadline(), lines.join(u'\n'), lowDiskPromptOpenLabel(),
                           [this] { closePopoversAndOpenCompanion(); }});
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
    connect(popover, &PopupWindow::closedByFocusLoss, this,
            [this] { popupClosedByFocusLoss(TrayPopup::dashboard); });
    delete m_popover;
    m_popover = popover;
}

std::optional<QRect> MenuBarController::iconGeometry() const
{
    return m_statusItem ? m_statusItem->iconGeometry() : std::nullopt;
}

QRect MenuBarController::currentAnchor()
{
    const DesktopLayout layout = currentDesktopLayout();
    // No tray to open under: the right end of the top of the work area.
    if (!m_statusItem && m_noTrayHost && !layout.screens.isEmpty() && layout.clientPlacesWindows)
        return topEndOfWorkArea(layout.screens.first(), layout.rightToLeft);
    m_anchor.setIconGeometry(iconGeometry());
    return m_anchor.current(layout);
}

void MenuBarController::closeDashboard()
{
    if (m_popover)
        m_popover->performClose();
}

void MenuBarController::togglePopover(std::optional<QPoint> hostPoint)
{
    if (!m_popover)
        return;
    const DesktopLayout layout = currentDesktopLayout();
    m_anchor.setIconGeometry(iconGeometry());
    const QRect anchor = m_anchor.forClick(hostPoint, layout);
    // Where the click was, as far as anyone tells: to know it again as the press that closed a
    // popup on its way.
    const QPoint clickPosition = hostPoint.value_or(layout.pointer.value_or(anchor.center()));
    const std::int64_t now = m_clockMs();
    const auto closingPress = m_clicks.takeClosingPress(clickPosition, now);
    // Only a host's point can come twice for one click; Qt's tray reports a second press as a
    // double click, which is a click all the same.
    if (!m_clicks.noteIconClick(clickPosition, now) && hostPoint) {
        qCDebug(lcPopup) << "the host passed the same click on again";
        return;
    }
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
        m_lowDiskPrompt->showLowDiskPrompt(anchor);
        return;
    }
    if (isDashboardShown()) {
        closeDashboard();
        return;
    }
    m_popover->showRelativeTo(anchor);
}

void MenuBarController::popupClosedByOutsidePress(TrayPopup popup, const QPoint& position)
{
    const bool onIcon =
        m_clicks.notePopupClosedByPress(popup, position, iconGeometry(), m_clockMs());
    qCDebug(lcPopup) << "outside press" << position << (onIcon ? "on the icon" : "");
    m_releasePolls = 0;
    m_releaseWatch.start();
    // Once the closing press has been dealt with: no popup opens in the middle of it.
    if (onIcon)
        QTimer::singleShot(0, this,
                           [this, popup, position] { iconClickClosedPopup(popup, position); });
}

void MenuBarController::popupClosedByFocusLoss(TrayPopup popup)
{
    m_clicks.notePopupClosedByFocusLoss(popup, m_clockMs());
}

void MenuBarController::watchButtonRelease()
{
    const std::optional<bool> down = pointerButtonDown();
    if (down.value_or(false) && ++m_releasePolls < releasePollLimit)
        return;
    m_releaseWatch.stop();
    if (down == false)
        m_clicks.noteButtonReleased(m_clockMs());
}

void MenuBarController::iconClickClosedPopup(TrayPopup popup, const QPoint& position)
{
    // Closing the prompt, or the dashboard, is all such a click does; unless it closed the
    // dashboard while the prompt is due, which the click then shows.
    if (popup == TrayPopup::dashboard && m_lowDiskPrompt->shouldShowLowDiskPrompt())
        m_lowDiskPrompt->showLowDiskPrompt(m_anchor.forClick(position, currentDesktopLayout()));
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

void MenuBarController::closePopoversAndOpenCompanion()
{
    closeDashboard();
    m_lowDiskPrompt->dismissLowDiskPrompt();
    openCompanionApp(korvanta::openArguments());
}

void MenuBarController::openCompanionApp(const QStringList& arguments)
{
    if (m_launchCompanion)
        m_launchCompanion(arguments, takeLaunchActivation());
}

LaunchActivation MenuBarController::takeLaunchActivation()
{
    LaunchActivation activation;
    // Tokens are good for one activation.
    activation.activationToken = std::exchange(m_activationToken, QString());
    // The startup notification convention: a unique id ending in _TIME<X server time>.
    if (m_lastInputTime != 0 && QGuiApplication::platformName() == QLatin1String("xcb"))
        activation.startupId = QStringLiteral("korvanta-menubar-%1-%2_TIME%3")
                                   .arg(QCoreApplication::applicationPid())
                                   .arg(++m_launchCount)
                                   .arg(m_lastInputTime);
    return activation;
}

bool MenuBarController::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        if (const auto timestamp = static_cast<QInputEvent*>(event)->timestamp())
            m_lastInputTime = timestamp;
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
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
    // Entries of its own that trigger the settings menu's: an action shown in two menus is
    // announced by screen readers as belonging to the one read first.
    for (QAction* action : m_settingsMenu->actions()) {
        if (action->isSeparator())
            m_trayMenu->addSeparator();
        else
            m_trayMenu->addAction(action->text(), action, &QAction::trigger);
    }
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
