#pragma once

#include "menubar/IconClickTracker.h"
#include "menubar/PopupWindow.h"
#include "status/StatusSampler.h"

#include <QElapsedTimer>
#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QStringList>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>
#include <optional>

namespace kmb {

class LowDiskPromptScheduler;
class SystemStatusMonitor;
class TrayHostWatcher;

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
        // Starts Korvanta with the given arguments.
        std::function<void(const QStringList&)> launchCompanion;
        // Whether to put an icon in the tray once a tray host is there.
        bool useTray = true;
    };

    explicit MenuBarController(Dependencies dependencies, QObject* parent = nullptr);
    ~MenuBarController() override;

    SystemStatusMonitor* systemMonitor() const { return m_systemMonitor; }

    void setupPopover();
    // A click on the tray icon; `clickPosition` stands in for the icon's place when the
    // tray does not report its geometry.
    void togglePopover(const QPoint& clickPosition);
    // Another launch of the utility, or the tray menu, asks for the dashboard: as a click on
    // the icon would, it shows the low-disk prompt first when that is due.
    void showDashboard();

    void startLowDiskSpaceMonitoring();
    bool shouldShowLowDiskPrompt() const;

    void closePopoversAndOpenCompanion();
    void openCompanionApp(const QStringList& arguments);

    void setupSettingsMenu();
    void showAbout();
    void showFeedback();
    void openFeedback();
    void quitFromMenu();

private:
    void configureStatusItem();
    // The tray's own context menu: the dashboard first, then the settings menu's entries,
    // for trays that open a menu on click or on right click.
    void updateTrayContextMenu();
    void popupClosedByOutsidePress(TrayPopup popup, const QPoint& position);
    // The click on the icon that closed `popup` on its way.
    void iconClickClosedPopup(TrayPopup popup, const QPoint& position);
    bool isDashboardShown() const { return m_popover && m_popover->isShown(); }
    void closeDashboard();
    // Where the tray shows the icon, when it says so.
    std::optional<QRect> iconGeometry() const;
    QRect anchorRect(const QPoint& clickPosition) const;
    QRect currentAnchor() const;

    QSystemTrayIcon* m_statusItem = nullptr;
    SystemStatusMonitor* m_systemMonitor = nullptr;
    QPointer<PopupWindow> m_popover;
    LowDiskPromptScheduler* m_lowDiskPrompt = nullptr;
    std::unique_ptr<QMenu> m_settingsMenu;
    std::unique_ptr<QMenu> m_trayMenu;

    std::function<void(const QStringList&)> m_launchCompanion;
    TrayHostWatcher* m_trayHostWatcher = nullptr;
    IconClickTracker m_clicks;
    QElapsedTimer m_clock;
    QPoint m_lastClickPosition;
};

} // namespace kmb
