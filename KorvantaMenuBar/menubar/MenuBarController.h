#pragma once

#include "menubar/PopupWindow.h"
#include "status/SystemStatusMonitor.h"

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSystemTrayIcon>
#include <QTimer>
#include <memory>

class QMenu;

namespace kmb {

class TrayHostWatcher;

// The utility's one controller: the tray icon, the dashboard and low-disk popups, the
// low-disk check, launching Korvanta and the settings menu.
class MenuBarController : public QObject {
    Q_OBJECT

public:
    struct Dependencies {
        std::unique_ptr<StatusSampler> sampler;
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

    void setupPopover();
    // A click on the tray icon; `clickPosition` stands in for the icon's place when the
    // tray does not report its geometry.
    void togglePopover(const QPoint& clickPosition);
    // Opens the dashboard (another launch of the utility, or the tray's context menu asked).
    void showDashboard();

private:
    void configureStatusItem();
    QRect anchorRect(const QPoint& clickPosition) const;

    QSystemTrayIcon* m_statusItem = nullptr;
    SystemStatusMonitor* m_systemMonitor = nullptr;
    QPointer<PopupWindow> m_popover;
    QPointer<PopupWindow> m_lowDiskPopover;
    TrayHostWatcher* m_trayHostWatcher = nullptr;
};

} // namespace kmb
