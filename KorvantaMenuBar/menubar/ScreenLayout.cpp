#include "menubar/ScreenLayout.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

namespace kmb {

DesktopLayout currentDesktopLayout()
{
    DesktopLayout layout;
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (primary)
        layout.screens.append({primary->geometry(), primary->availableGeometry()});
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen != primary)
            layout.screens.append({screen->geometry(), screen->availableGeometry()});
    }
    layout.rightToLeft = QGuiApplication::isRightToLeft();
    const QString platform = QGuiApplication::platformName();
    layout.clientPlacesWindows = !platform.startsWith(QLatin1String("wayland"));
    // Under XWayland the pointer's position is its last one over an X11 window.
    if (platform == QLatin1String("xcb") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        layout.pointer = QCursor::pos();
    return layout;
}

} // namespace kmb
