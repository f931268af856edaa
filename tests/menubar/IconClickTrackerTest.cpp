// Telling clicks on the tray icon from the presses that close a popup.

#include "menubar/IconClickTracker.h"

#include <gtest/gtest.h>

using namespace kmb;

// A press that closes a popup is a click on the icon when it lands on the icon's geometry, or,
// without one, within 16 px of the last icon click; an activation near that press within
// 400 ms (of the press, or of its release where the button was held) is the same click,
// answered once.
TEST(IconClickTracker, PressesThatCloseAPopup)
{
    const std::optional<QRect> icon = QRect(100, 0, 24, 24);
    const struct {
        std::optional<QRect> geometry;
        std::optional<QPoint> lastIconClick;
        QPoint press;
        bool onIcon;
        QPoint activation;
        std::int64_t afterMs;
        bool sameClick;
        std::optional<std::int64_t> releasedAfterMs = std::nullopt;
    } cases[] = {
        {icon, {}, {123, 23}, true, {139, 39}, 400, true},
        {icon, {}, {124, 10}, false, {124, 10}, 0, true},
        {icon, QPoint(130, 10), {130, 10}, false, {130, 10}, 401, false},
        {{}, QPoint(110, 10), {126, 26}, true, {143, 26}, 0, false},
        {{}, QPoint(110, 10), {93, 10}, false, {93, 10}, 10, true},
        {{}, {}, {110, 10}, false, {110, 10}, 10, true},
        {{}, QPoint(110, 10), {110, 10}, true, {110, 10}, 1000, true, 600},
        {{}, QPoint(110, 10), {110, 10}, true, {110, 10}, 1001, false, 600},
    };
    for (const auto& c : cases) {
        IconClickTracker tracker;
        if (c.lastIconClick)
            tracker.noteIconClick(*c.lastIconClick, 0);
        EXPECT_EQ(
            tracker.notePopupClosedByPress(TrayPopup::lowDiskPrompt, c.press, c.geometry, 1000),
            c.onIcon)
            << c.press.x() << "," << c.press.y();
        if (c.releasedAfterMs)
            tracker.noteButtonReleased(1000 + *c.releasedAfterMs);
        const auto taken = tracker.takeClosingPress(c.activation, 1000 + c.afterMs);
        ASSERT_EQ(taken.has_value(), c.sameClick) << c.activation.x() << " after " << c.afterMs;
        if (taken) {
            EXPECT_EQ(taken->closed, TrayPopup::lowDiskPrompt);
            EXPECT_EQ(taken->onIcon, c.onIcon);
            EXPECT_FALSE(tracker.takeClosingPress(c.activation, 1000 + c.afterMs));
        }
    }
}

// GNOME's indicator host passes a double click on as two activations at once.
TEST(IconClickTracker, AnActivationRepeatedAtOnceIsOneClick)
{
    IconClickTracker tracker;
    EXPECT_TRUE(tracker.noteIconClick({1182, 16}, 5000));
    EXPECT_FALSE(tracker.noteIconClick({1182, 16}, 5099));
    EXPECT_TRUE(tracker.noteIconClick({1182, 16}, 5199));
    EXPECT_TRUE(tracker.noteIconClick({1240, 16}, 5200)); // another icon's spot
}
