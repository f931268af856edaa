#include "app/PlatformChoice.h"

#include <QtGlobal>

namespace kmb {

namespace {

bool desktopIs(const QByteArray& currentDesktop, const char* name)
{
    return currentDesktop.toLower().split(':').contains(QByteArray(name).toLower());
}

} // namespace

QByteArray choosePlatform(const SessionDisplays& session)
{
    if (!session.userPlatform.isEmpty())
        return {};
    if (session.waylandDisplay.isEmpty() || session.sessionType == "x11")
        return {};
    if (session.x11Display.isEmpty())
        return "wayland";
    // Through XWayland a client places its popups next to the icon; the compositors below let
    // an X11 popup take the focus, so that a click elsewhere closes it.
    if (desktopIs(session.currentDesktop, "GNOME") || desktopIs(session.currentDesktop, "KDE"))
        return "xcb";
    return "xcb";
}

QList<QByteArray> applyPlatformChoice()
{
    const SessionDisplays session{qgetenv("QT_QPA_PLATFORM"), qgetenv("WAYLAND_DISPLAY"),
                                  qgetenv("DISPLAY"), qgetenv("XDG_SESSION_TYPE"),
                                  qgetenv("XDG_CURRENT_DESKTOP")};
    const QByteArray platform = choosePlatform(session);
    if (platform.isEmpty())
        return {};
    qputenv("QT_QPA_PLATFORM", platform);
    return {QByteArrayLiteral("QT_QPA_PLATFORM")};
}

} // namespace kmb
