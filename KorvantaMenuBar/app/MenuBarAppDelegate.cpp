#include "app/MenuBarAppDelegate.h"

#include "menubar/MenuBarController.h"

namespace kmb {

void MenuBarAppDelegate::applicationDidFinishLaunching()
{
    MenuBarController& controller = MenuBarController::shared();
    controller.systemMonitor()->startMonitoring();
    controller.setupPopover();
    controller.setupSettingsMenu();
    controller.startLowDiskSpaceMonitoring();
}

void MenuBarAppDelegate::showDashboard() { MenuBarController::shared().showDashboard(); }

} // namespace kmb
