#pragma once

#include "menubar/CompanionLauncher.h"
#include "menubar/IconClickTracker.h"
#include "menubar/PopupWindow.h"
#include "menubar/TrayAnchor.h"
#include "menubar/TrayHostWatcher.h"
#include "status/StatusSampler.h"

#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

namespace kmb {

class DesktopNotifications;
class LowDiskPromptScheduler;
class StatusItem;
class SystemStatusMonitor;

// The utility's one controller: the tray icon, the dashboard popup, the low-disk prompt,
// launching Korvanta and the settings menu.
class MenuBarController : public QObject {
    Q_OBJECT

public:
    static constexpr int feedbackStepDelayMs = 200;

    struct Dependencies {
        std::unique_ptr<StatusSampler> sampler;
        // The settings file that keeps the low-disk prompt's day.
        QString settingsPath;
        // Today as "yyyy-MM-dd"; empty: the local calendar day.
        std::function<QString()> currentDayString;
        // Starts Korvanta with the given arguments, asking the session to bring it to the front.
        std::function<void(const QStringList&, const LaunchActivation&)> launchCompanion;
        // Whether to put an icon in the tray once a tray host is there.
        bool useTray = true;
        // A monotonic clock in milliseconds, to tell one click from the next; empty: the
        // system's.
        std::function<std::int64_t()> clockMs;
    };

    explicit MenuBarController(Dependencies dependencies, QObject* parent = nullptr);
    ~MenuBarController() override;

    SystemStatusMonitor* systemMonitor() const { return m_systemMonitor; }

    void setupPopover();
    // A click on the tray icon, at the point the tray host passed, if it passed one.
    void togglePopover(std::optional<QPoint> hostPoint);
    // Another launch of the utility, or the tray menu, asks for the dashboard: as a click on
    // the icon would, it shows the low-disk prompt first when that is due.
    void showDashboard();

    void startLowDiskSpaceMonitoring();

    void closePopoversAndOpenCompanion();
    void openCompanionApp(const QStringList& arguments);

    void setupSettingsMenu();
    void showAbout();
    void showFeedback();
    void openFeedback();
    void quitFromMenu();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    LaunchActivation takeLaunchActivation();
    void configureStatusItem(TrayHostWatcher::Host host);
    // No tray after a while: say so once, and offer the dashboard from the notification.
    void noTrayHostFound();
    void notifyLowDiskSpace(const QString& diskName, qint64 availableBytes, qint64 totalBytes);
    void popupClosedByOutsidePress(TrayPopup popup, const QPoint& position);
    void popupClosedByFocusLoss(TrayPopup popup);
    // The click on the icon that closed `popup` on its way.
    void iconClickClosedPopup(TrayPopup popup, const QPoint& position);
    // Until the button of a press that closed a popup goes up: a host that activates the icon
    // on the release must not open the popup again however long the button was held.
    void watchButtonRelease();
    bool isDashboardShown() const { return m_popover && m_popover->isShown(); }
    void closeDashboard();
    std::optional<QRect> iconGeometry() const;
    // Where a popup opens on a route without a click on the icon.
    QRect currentAnchor();

    StatusItem* m_statusItem = nullptr;
    SystemStatusMonitor* m_systemMonitor = nullptr;
    QPointer<PopupWindow> m_popover;
    LowDiskPromptScheduler* m_lowDiskPrompt = nullptr;
    std::unique_ptr<QMenu> m_settingsMenu;
    // The tray's own menu: the dashboard, then the settings menu's entries, for trays that open
    // a menu on a click or a right click.
    std::unique_ptr<QMenu> m_trayMenu;

    std::function<void(const QStringList&, const LaunchActivation&)> m_launchCompanion;
    // The X time of the last input the utility saw, and the last activation token a tray host
    // handed over: what a launch of Korvanta passes on.
    unsigned long m_lastInputTime = 0;
    QString m_activationToken;
    int m_launchCount = 0;
    TrayHostWatcher* m_trayHostWatcher = nullptr;
    DesktopNotifications* m_notifications = nullptr;
    bool m_noTrayHost = false;
    TrayAnchor m_anchor;
    IconClickTracker m_clicks;
    std::function<std::int64_t()> m_clockMs;
    QTimer m_releaseWatch;
    int m_releasePolls = 0;
};

} // namespace kmb
