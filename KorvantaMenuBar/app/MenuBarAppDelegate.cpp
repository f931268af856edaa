#include "app/MenuBarAppDelegate.h"

#include "status/SystemStatusMonitor.h"

namespace kmb {

MenuBarAppDelegate::MenuBarAppDelegate(MenuBarController::Dependencies dependencies,
                                       QObject* parent)
    : QObject(parent), m_dependencies(std::move(dependencies))
{
}

void MenuBarAppDelegate::applicationDidFinishLaunching()
{
    if (m_controller)
        return;
    m_controller = new MenuBarController(std::move(m_dependencies), this);
    m_controller->systemMonitor()->startMonitoring();
    m_controller->setupPopover();
    m_controller->setupSettingsMenu();
    m_controller->startLowDiskSpaceMonitoring();
}

void MenuBarAppDelegate::showDashboard()
{
    if (m_controller)
        m_controller->showDashboard();
}

} // namespace kmb
