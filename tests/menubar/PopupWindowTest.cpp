// The popup on the offscreen platform (one 800x800 screen): what closes it, where it opens.

#include "UiTestSupport.h"

#include "menubar/PopupWindow.h"

#include <QBackingStore>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

namespace kmb {
namespace {

const QRect icon(1200, 10, 1, 1);

// Esc and a press outside close it in either style; the focused style also closes when it loses
// the focus it had.
TEST(PopupWindow, EscAPressOutsideAndForTheFocusedStyleAFocusLossCloseIt)
{
    for (const PopupStyle style : {PopupStyle::pointerGrab, PopupStyle::focusAndCatcher}) {
        SCOPED_TRACE(int(style));
        PopupWindow popup(QSize(100, 80), style);
        QSignalSpy outside(&popup, &PopupWindow::closedByOutsidePress);
        popup.showRelativeTo(QRect(300, 0, 24, 24));
        QTest::keyClick(&popup, Qt::Key_Escape);
        EXPECT_FALSE(popup.isVisible());
        popup.showRelativeTo(QRect(300, 0, 24, 24));
        // Qt hands a press elsewhere to the open popup; under XWayland the catcher takes it.
        QWidget* catcher = test::topLevelNamed("outsideClickCatcher");
        test::pressAt(style == PopupStyle::pointerGrab ? &popup : catcher, QPoint(20, 500));
        EXPECT_FALSE(popup.isVisible());
        ASSERT_EQ(outside.count(), 1);
        EXPECT_EQ(outside.takeFirst().value(0).toPoint(), QPoint(20, 500));
    }
    PopupWindow popup(QSize(100, 80), PopupStyle::focusAndCatcher);
    QSignalSpy focusLoss(&popup, &PopupWindow::closedByFocusLoss);
    popup.showRelativeTo(icon);
    ASSERT_TRUE(
        test::waitFor([&] { return QGuiApplication::focusWindow() == popup.windowHandle(); }));
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    ASSERT_TRUE(test::waitFor([&] { return !popup.isVisible(); }));
    EXPECT_EQ(focusLoss.count(), 1);
}

// The window that had the focus gives it up only a moment after it closed, which may be after
// the next popup has shown: that loss must not close the new popup, a later one must. Without an
// anchor the popup opens mid-screen, its content filling it. Closed, it gives its window-sized
// image back until it paints again.
TEST(PopupWindow, AFocusLossBeforeItsOwnFocusDoesNotCloseItAndClosedItShrinksItsImage)
{
    PopupWindow popup(QSize(100, 80), PopupStyle::pointerGrab);
    auto* content = new QWidget;
    popup.setContent(content);
    popup.showRelativeTo(QRect());
    EXPECT_EQ(popup.geometry(), QRect(349, 359, 100, 80)); // centred: (399, 399) is the middle
    EXPECT_EQ(content->geometry(), QRect(0, 0, 100, 80));
    popup.windowHandle()->close(); // what Qt does when the application loses the focus
    EXPECT_TRUE(popup.isVisible());
    ASSERT_TRUE(
        test::waitFor([&] { return QGuiApplication::focusWindow() == popup.windowHandle(); }));
    popup.windowHandle()->close();
    EXPECT_FALSE(popup.isVisible());
    popup.showRelativeTo(icon);
    popup.windowHandle()->close();
    EXPECT_TRUE(popup.isVisible()) << "focused before, not yet since this showing";
    ASSERT_TRUE(test::waitFor([&] { return popup.backingStore()->size() == QSize(100, 80); }));
    popup.performClose();
    EXPECT_TRUE(test::waitFor([&] { return popup.backingStore()->size() == QSize(1, 1); }));
}

} // namespace
} // namespace kmb
