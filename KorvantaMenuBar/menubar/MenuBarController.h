#pragma once

#include "menubar/DayRecordStore.h"
#include "menubar/PopupWindow.h"
#include "status/SystemStatusMonitor.h"

#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

namespace kmb {

class TrayHostWatcher;

// The utility's one controller: the tray icon, the dashboard and low-disk popups, the
// low-disk check, launching Korvanta and the settings menu.
class MenuBarController : public QObject {
    Q_OBJECT

public:
    static constexpr int firstLowDiskCheckDelayMs = 800;
    static constexpr int lowDiskCheckIntervalMs = 60'000;
    static constexpr int feedbackStepDelayMs = 200;
    static constexpr QSize lowDiskPopoverSize{338, 202};

    struct Dependencies {
        std::unique_ptr<StatusSampler> sampler;
        // Where the low-disk prompt's day is kept.
        QString settingsPath;
        // Starts Korvanta with the given arguments.
        std::function<void(const QStringList&)> launchCompanion;
        // Whether to put an icon in the tray (off where no tray is wanted, e.g. in tests).
        bool useTray = true;
    };

    // The process's single controller, created on first use with the real machine's readers.
    static MenuBarController& shared();

    explicit MenuBarController(Dependencies dependencies, QObject* parent = nullptr);
    ~MenuBarController() override;

    SystemStatusMonitor* systemMonitor() const { return m_systemMonitor; }
    QSystemTrayIcon* statusItem() const { return m_statusItem; }
    PopupWindow* popover() const { return m_popover; }
    PopupWindow* lowDiskPopover() const { return m_lowDiskPopover; }
    QTimer* lowDiskPromptTimer() const { return m_lowDiskPromptTimer; }
    QMenu* settingsMenu() const { return m_settingsMenu.get(); }

    void setupPopover();
    // A click on the tray icon; `clickPosition` stands in for the icon's place when the
    // tray does not report its geometry.
    void togglePopover(const QPoint& clickPosition);
    // Opens the dashboard (another launch of the utility, or the tray's context menu asked).
    void showDashboard();

    // Low-disk prompt.
    void startLowDiskSpaceMonitoring();
    void checkLowDiskSpace();
    bool shouldShowLowDiskPrompt() const;
    bool hasShownLowDiskPromptToday() const;
    void showLowDiskPrompt(const QRect& anchor);
    void dismissLowDiskPrompt();

    // Korvanta.
    void closePopoversAndOpenCompanion();
    void openCompanionApp(const QStringList& arguments);

    // Settings menu and its commands.
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
    // Where the tray shows the icon, when it says so.
    std::optional<QRect> iconGeometry() const;
    QRect anchorRect(const QPoint& clickPosition) const;
    QRect currentAnchor() const;

    QSystemTrayIcon* m_statusItem = nullptr;
    SystemStatusMonitor* m_systemMonitor = nullptr;
    QPointer<PopupWindow> m_popover;
    QPointer<PopupWindow> m_lowDiskPopover;
    QPointer<QTimer> m_lowDiskPromptTimer;
    std::unique_ptr<QMenu> m_settingsMenu;
    std::unique_ptr<QMenu> m_trayMenu;

    DayRecordStore m_dayRecord;
    std::function<void(const QStringList&)> m_launchCompanion;
    TrayHostWatcher* m_trayHostWatcher = nullptr;
    QPoint m_lastClickPosition;
};

} // namespace kmb
