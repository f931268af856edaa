#pragma once

#include "menubar/MenuBarController.h"

#include <QObject>

namespace kmb {

// Brings the utility up once the event loop runs, with the readers and the launcher that
// main() (or a test) hands in.
class MenuBarAppDelegate : public QObject {
    Q_OBJECT

public:
    explicit MenuBarAppDelegate(MenuBarController::Dependencies dependencies,
                                QObject* parent = nullptr);

    // The launch sequence: the controller (and with it the tray icon), the first sample, the
    // dashboard, the settings menu and the low-disk check, in that order. Runs once.
    void applicationDidFinishLaunching();
    // Another launch of the utility asked for the dashboard.
    void showDashboard();
    // The process's one controller, from the launch sequence on.
    MenuBarController* controller() const { return m_controller; }

    // The utility lives in the tray: closing its last window does not end it.
    static constexpr bool applicationShouldTerminateAfterLastWindowClosed() { return false; }

private:
    MenuBarController::Dependencies m_dependencies;
    MenuBarController* m_controller = nullptr;
};

} // namespace kmb
