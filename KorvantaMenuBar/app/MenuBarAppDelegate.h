#pragma once

#include <QObject>

namespace kmb {

// Brings the utility up once the event loop runs.
class MenuBarAppDelegate : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // The launch sequence: controller (and tray icon), first sample, dashboard, settings
    // menu, low-disk check, in that order.
    void applicationDidFinishLaunching();
    // Another launch of the utility asked for the dashboard.
    void showDashboard();
    // The utility lives in the tray: closing its last window does not end it.
    static constexpr bool applicationShouldTerminateAfterLastWindowClosed() { return false; }
};

} // namespace kmb
