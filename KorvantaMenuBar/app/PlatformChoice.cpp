#include "app/PlatformChoice.h"

#include <QtGlobal>

namespace kmb {

QByteArray choosePlatform(const SessionDisplays& session)
{
    if (!session.userPlatform.isEmpty())
        return {};
    if (session.waylandDisplay.isEmpty() || session.sessionType == "x11")
        return {};
    if (session.x11Display.isEmpty())
        return "wayland";
    // Measured on GNOME Shell 43 and Plasma 5.27 (and sway): through XWayland the popups open
    // at the icon and, focused and over a window that takes the presses around them, close on
    // a click elsewhere; natively the compositor places them away from the icon (and GNOME
    // keeps them open). So XWayland on every desktop that has it.
    return "xcb";
}

QList<QByteArray> applyPlatformChoice()
{
    const SessionDisplays session{qgetenv("QT_QPA_PLATFORM"), qgetenv("WAYLAND_DISPLAY"),
                                  qgetenv("DISPLAY"), qgetenv("XDG_SESSION_TYPE")};
    const QByteArray platform = choosePlatform(session);
    if (platform.isEmpty())
        return {};
    qputenv("QT_QPA_PLATFORM", platform);
    return {QByteArrayLiteral("QT_QPA_PLATFORM")};
}

} // namespace kmb
