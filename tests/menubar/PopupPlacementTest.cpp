// A popup of the dashboard's size next to the anchors a 1280x800 screen's panels give.

#include "menubar/PopupPlacement.h"

#include <gtest/gtest.h>

using namespace kmb;

const QRect screen(0, 0, 1280, 800);
const QRect belowTopBar(0, 32, 1280, 768);
const QRect aboveBottomPanel(0, 0, 1280, 756);

TEST(PopupPlacement, AdjacentToThePanelAndKeptOnTheWorkArea)
{
    const struct {
        const char* what;
        QRect anchor;
        QRect available;
        QPoint topLeft;
    } cases[] = {
        {"below a top bar's icon", QRect(1182, 0, 1, 32), belowTopBar, {860, 32}},
        {"centred under the icon", QRect(600, 0, 1, 32), belowTopBar, {390, 32}},
        {"above a bottom panel's icon", QRect(170, 756, 1, 44), aboveBottomPanel, {0, 372}},
        {"top, mirrored band", QRect(1182, 0, 1, 33), screen, {860, 33}},
        {"bottom, mirrored band", QRect(500, 757, 1, 43), screen, {290, 373}},
        {"larger than the work area", QRect(100, 0, 1, 32), QRect(0, 32, 300, 200), {0, 32}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(popupPosition(c.anchor, QSize(420, 384), c.available), c.topLeft) << c.what;
}
