#include "menubar/MenuBarController.h"

#include "companion/KorvantaContract.h"
#include "menubar/CompanionLauncher.h"
#include "menubar/LowDiskSpaceRule.h"
#include "menubar/PopupLogging.h"
#include "menubar/StatusNotifierRegistration.h"
#include "menubar/TrayHostWatcher.h"
#include "status/LinuxStatusSampler.h"
#include "views/AboutWindowController.h"
#include "views/AppIcon.h"
#include "views/LowDiskSpacePromptView.h"
#include "views/MenuBarPanelView.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QGuiApplication>
#include <QScreen>

namespace kmb {

MenuBarController& MenuBarController::shared()
{
    // Created once, on first use, and kept for the life of the process.
    static MenuBarController* const instance = [] {
        Dependencies dependencies;
        dependencies.sampler = LinuxStatusSampler::forThisMachine();
        dependencies.settingsPath = DayRecordStore::defaultSettingsPath();
        auto launcher = std::make_shared<CompanionLauncher>(CompanionLauncher::forThisProcess());
        dependencies.launchCompanion = [launcher](const QStringList& arguments) {
            launcher->openCompanionApp(arguments);
        };
        // Deliberately never destroyed: the process ends with it, and tearing widgets
        // down after QApplication is gone would crash.
        return new MenuBarController(std::move(dependencies));
    }();
    return *instance;
}

MenuBarController::MenuBarController(Dependencies dependencies, QObject* parent)
    : QObject(parent),
      m_systemMonitor(new SystemStatusMonitor(std::move(dependencies.sampler), this)),
      m_dayRecord(std::move(dependencies.settingsPath)),
      m_launchCompanion(std::move(dependencies.launchCompanion))
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

void MenuBarController::showDashboard()
{
    if (!m_popover || m_popover->isShown())
        return;
    if (m_lowDiskPopover)
        m_lowDiskPopover->performClose();
    m_popover->showRelativeTo(currentAnchor());
}

void MenuBarController::togglePopover(const QPoint& clickPosition)
{
    if (!m_popover)
        return;
    m_lastClickPosition = clickPosition;
    if (m_lowDiskPopover && m_lowDiskPopover->isShown()) {
        m_lowDiskPopover->performClose();
        return;
    }
    // This click already closed a popup on its way here: it only closes.
    if (m_popover->closedByRecentOutsideClick() ||
        (m_lowDiskPopover && m_lowDiskPopover->closedByRecentOutsideClick())) {
        qCDebug(lcPopup) << "click already closed a popup";
        return;
    }
    if (shouldShowLowDiskPrompt()) {
        m_popover->performClose();
        showLowDiskPrompt(anchorRect(clickPosition));
        return;
    }
    if (m_popover->isShown()) {
        m_popover->performClose();
        return;
    }
    m_popover->showRelativeTo(anchorRect(clickPosition));
}

// --- Low-disk prompt -------------------------------------------------------------------

void MenuBarController::startLowDiskSpaceMonitoring()
{
    QTimer::singleShot(firstLowDiskCheckDelayMs, this, [self = QPointer<MenuBarController>(this)] {
        if (self)
            self->checkLowDiskSpace();
    });
    delete m_lowDiskPromptTimer;
    auto* timer = new QTimer(this);
    timer->setInterval(lowDiskCheckIntervalMs);
    timer->setTimerType(Qt::CoarseTimer);
    connect(timer, &QTimer::timeout, this, [self = QPointer<MenuBarController>(this)] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self] {
                if (self)
                    self->checkLowDiskSpace();
            },
            Qt::QueuedConnection);
    });
    timer->start();
    m_lowDiskPromptTimer = timer;
}

void MenuBarController::checkLowDiskSpace()
{
    // No icon yet (no tray host): nothing to hang the prompt from; a later check tries again.
    if (m_trayHostWatcher && !m_statusItem)
        return;
    // Never over an open dashboard; the next check tries again.
    if (m_popover && m_popover->isShown())
        return;
    if (shouldShowLowDiskPrompt())
        showLowDiskPrompt(currentAnchor());
}

bool MenuBarController::shouldShowLowDiskPrompt() const
{
    if (!isLowDiskSpace(m_systemMonitor->hasSampledDisk(), m_systemMonitor->availableDiskBytes(),
                        m_systemMonitor->totalDiskBytes()))
        return false;
    if (m_lowDiskPopover && m_lowDiskPopover->isShown())
        return false;
    return !hasShownLowDiskPromptToday();
}

bool MenuBarController::hasShownLowDiskPromptToday() const
{
    const std::optional<QString> day = m_dayRecord.lastShownDay();
    return day && *day == currentDayString();
}

void MenuBarController::showLowDiskPrompt(const QRect& anchor)
{
    // The day is spent as soon as the prompt is about to show.
    m_dayRecord.recordShownDay(currentDayString());
    if (!m_lowDiskPopover) {
        m_lowDiskPopover = new PopupWindow(lowDiskPopoverSize);
        m_lowDiskPopover->setObjectName(QStringLiteral("lowDiskPopover"));
        m_lowDiskPopover->setAccessibleName(QStringLiteral("Korvanta"));
    }
    const QPointer<MenuBarController> self(this);
    m_lowDiskPopover->setContent(new LowDiskSpacePromptView(
        m_systemMonitor->diskName(), m_systemMonitor->availableDiskBytes(),
        m_systemMonitor->totalDiskBytes(),
        [self] {
            if (self)
                self->dismissLowDiskPrompt();
        },
        [self] {
            if (self)
                self->closePopoversAndOpenCompanion();
        }));
    m_lowDiskPopover->showRelativeTo(anchor);
}

void MenuBarController::dismissLowDiskPrompt()
{
    if (m_lowDiskPopover)
        m_lowDiskPopover->performClose();
}

// --- Korvanta ---------------------------------------------------------------------------

void MenuBarController::closePopoversAndOpenCompanion()
{
    if (m_popover)
        m_popover->performClose();
    if (m_lowDiskPopover)
        m_lowDiskPopover->performClose();
    openCompanionApp(korvanta::openArguments());
}

void MenuBarController::openCompanionApp(const QStringList& arguments)
{
    if (m_launchCompanion)
        m_launchCompanion(arguments);
}

// --- Settings menu ---------------------------------------------------------------------

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
    if (m_popover)
        m_popover->performClose();
    QTimer::singleShot(feedbackStepDelayMs, this, &MenuBarController::openFeedback);
}

void MenuBarController::openFeedback()
{
    if (m_popover)
        m_popover->performClose();
    if (m_lowDiskPopover)
        m_lowDiskPopover->performClose();
    QTimer::singleShot(feedbackStepDelayMs, this,
                       [this] { openCompanionApp(korvanta::feedbackArguments()); });
}

void MenuBarController::quitFromMenu()
{
    if (m_popover)
        m_popover->performClose();
    QCoreApplication::exit(0);
}

} // namespace kmb
