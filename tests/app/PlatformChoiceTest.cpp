#include "app/PlatformChoice.h"

#include <gtest/gtest.h>

namespace kmb {
namespace {

TEST(PlatformChoice, EachSessionGetsThePlatformItsPopupsWorkOn)
{
    const struct {
        const char* what;
        SessionDisplays session;
        QByteArray platform;
    } cases[] = {
        {"X11 session", {"", "", ":0", "x11", "XFCE"}, ""},
        {"X11 session with a stray WAYLAND_DISPLAY", {"", "wayland-0", ":0", "x11", "KDE"}, ""},
        {"the user's own choice", {"wayland", "wayland-0", ":0", "wayland", "GNOME"}, ""},
        {"Wayland without XWayland", {"", "wayland-0", "", "", "sway"}, "wayland"},
        {"GNOME on Wayland", {"", "wayland-0", ":0", "wayland", "ubuntu:GNOME"}, "xcb"},
        {"Plasma on Wayland", {"", "wayland-0", ":1", "wayland", "KDE"}, "xcb"},
        {"another compositor with XWayland", {"", "wayland-1", ":0", "wayland", "sway"}, "xcb"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(choosePlatform(c.session), c.platform) << c.what;
}

} // namespace
} // namespace kmb
