#include "app/PlatformChoice.h"

#include <QByteArray>
#include <QtGlobal>

namespace kmb {

void preferX11UnderWayland()
{
    // An explicit choice of the user wins.
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return;
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const bool xwayland = !qEnvironmentVariableIsEmpty("DISPLAY");
    if (wayland && xwayland)
        qputenv("QT_QPA_PLATFORM", "xcb");
}

} // namespace kmb
