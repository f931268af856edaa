#pragma once

#include <QByteArray>
#include <QList>

namespace kmb {

// What the session tells about its display servers, from its environment.
struct SessionDisplays {
    QByteArray userPlatform;   // QT_QPA_PLATFORM; set by the user, it wins
    QByteArray waylandDisplay; // WAYLAND_DISPLAY
    QByteArray x11Display;     // DISPLAY: under Wayland, XWayland's
    QByteArray sessionType;    // XDG_SESSION_TYPE
};

// The Qt platform to run on; empty: Qt's own choice stands (an X11 session, the user's).
// Under Wayland: XWayland, where popups open at the tray icon and close on a click elsewhere;
// Wayland itself where there is no XWayland.
QByteArray choosePlatform(const SessionDisplays& session);

// Reads the session, sets QT_QPA_PLATFORM when choosePlatform() chose, before the application
// object exists. Returns the names of the variables it set: the processes we start must not
// inherit them.
QList<QByteArray> applyPlatformChoice();

} // namespace kmb
