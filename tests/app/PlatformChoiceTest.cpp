#include "app/PlatformChoice.h"

#include <gtest/gtest.h>

using namespace kmb;

TEST(PlatformChoice, EachSessionGetsThePlatformItsPopupsWorkOn)
{
    const struct {
        const char* what;
        SessionDisplays session;
        QByteArray platform;
    } cases[] = {
        {"X11 session", {"", "", ":0", "x11"}, ""},
        {"X11 session with a stray WAYLAND_DISPLAY", {"", "wayland-0", ":0", "x11"}, ""},
        {"the user's own choice", {"wayland", "wayland-0", ":0", "wayland"}, ""},
        {"Wayland without XWayland", {"", "wayland-0", "", ""}, "wayland"},
        {"a Wayland session with XWayland", {"", "wayland-0", ":0", "wayland"}, "xcb"},
        {"no session type, XWayland", {"", "wayland-1", ":1", ""}, "xcb"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(choosePlatform(c.session), c.platform) << c.what;
}
