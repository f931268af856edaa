// The anchor each host's report gives on a 1280x800 screen: 32 px top bar, 44 px bottom panel.

#include "menubar/TrayAnchor.h"

#include <gtest/gtest.h>

using namespace kmb;

const QRect screen(0, 0, 1280, 800);
const ScreenArea topBar{screen, QRect(0, 32, 1280, 768)};
const ScreenArea bottomPanel{screen, QRect(0, 0, 1280, 756)};
const ScreenArea unshown{screen, screen};

const auto on = [](const ScreenArea& area, std::optional<QPoint> pointer = std::nullopt) {
    return DesktopLayout{{area}, false, true, pointer};
};

TEST(TrayAnchor, HostPointsBecomeThePanelBandAcrossThem)
{
    const ScreenArea second{QRect(1280, 0, 1920, 1080), QRect(1280, 0, 1920, 1050)};
    const ScreenArea leftPanel{screen, QRect(48, 0, 1232, 800)};
    const struct {
        const char* what;
        QList<ScreenArea> screens;
        QPoint point;
        std::optional<QRect> band;
    } cases[] = {
        {"top bar", {topBar}, {1182, 16}, QRect(1182, 0, 1, 32)},
        {"bottom panel", {bottomPanel}, {170, 778}, QRect(170, 756, 1, 44)},
        {"left panel", {leftPanel}, {20, 400}, QRect(0, 400, 48, 1)},
        {"left edge of the second screen", {unshown, second}, {1290, 500}, QRect(1280, 500, 21, 1)},
        {"top, work area silent", {unshown}, {1182, 16}, QRect(1182, 0, 1, 33)},
        {"bottom, work area silent", {unshown}, {170, 778}, QRect(170, 757, 1, 43)},
        {"right, work area silent", {unshown}, {1270, 300}, QRect(1261, 300, 19, 1)},
        {"64 px from the edge", {unshown}, {640, 735}, QRect(640, 671, 1, 129)},
        {"65 px from the edge", {unshown}, {640, 734}, std::nullopt},
        {"on no screen", {topBar}, {1300, 10}, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(iconBandAround(c.point, c.screens), c.band) << c.what;
}

TEST(TrayAnchor, TrayEndOfThePanelEdge)
{
    const struct {
        const char* what;
        ScreenArea area;
        bool rightToLeft;
        QRect end;
    } cases[] = {
        {"top bar", topBar, false, QRect(1279, 0, 1, 32)},
        {"top bar, right to left", topBar, true, QRect(0, 0, 1, 32)},
        {"bottom panel", bottomPanel, false, QRect(1279, 756, 1, 44)},
        {"right panel", {screen, QRect(0, 0, 1230, 800)}, false, QRect(1230, 799, 50, 1)},
        {"no panel", unshown, false, QRect(1279, -1, 1, 1)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(trayEndOfPanel(c.area, c.rightToLeft), c.end) << c.what;
}

TEST(TrayAnchor, EachRouteAsksTheBestReportLeft)
{
    const QRect xembedIcon(1240, 4, 24, 24);
    TrayAnchor anchor;
    // Nothing reported yet, or a click mid-screen (a host passing bar-relative points): tray end.
    EXPECT_EQ(anchor.current(on(topBar)), QRect(1279, 0, 1, 32));
    EXPECT_EQ(anchor.forClick(QPoint(640, 400), on(topBar)), QRect(1279, 0, 1, 32));
    // Where X11 tells the pointer truthfully, it stands in for a point the host did not pass.
    EXPECT_EQ(anchor.forClick(std::nullopt, on(topBar, QPoint(900, 10))), QRect(900, 10, 1, 1));
    EXPECT_EQ(anchor.forClick(QPoint(1182, 16), on(topBar, QPoint(5, 5))), QRect(1182, 0, 1, 32));
    EXPECT_EQ(anchor.current(on(topBar)), QRect(1182, 0, 1, 32));
    anchor.noteHostPoint(QPoint(1100, 790), on(unshown));
    EXPECT_EQ(anchor.current(on(unshown)), QRect(1100, 781, 1, 19));
    // An XEmbed tray's geometry beats every point.
    anchor.setIconGeometry(xembedIcon);
    EXPECT_EQ(anchor.forClick(QPoint(1182, 16), on(topBar)), xembedIcon);
    EXPECT_EQ(anchor.current(on(topBar)), xembedIcon);
    // A native Wayland client leaves placing to the compositor.
    DesktopLayout wayland = on(topBar);
    wayland.clientPlacesWindows = false;
    EXPECT_TRUE(anchor.forClick(QPoint(1182, 16), wayland).isNull());
    EXPECT_TRUE(anchor.current(wayland).isNull());
    // Without a click yet: the tray end on the screen of the last point a host passed.
    const DesktopLayout two{
        {topBar, {QRect(1280, 0, 1920, 1080), QRect(1280, 30, 1920, 1050)}}, false, true, {}};
    TrayAnchor unclicked;
    unclicked.noteHostPoint(QPoint(2000, 500), two); // on no panel
    EXPECT_EQ(unclicked.current(two), QRect(3199, 0, 1, 30));
}
