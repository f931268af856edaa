// The About window on the offscreen platform (one 800x800 screen).

#include "UiTestSupport.h"

#include "views/AboutWindowController.h"
#include "views/AboutWindowView.h"

using namespace kmb;

TEST(AboutWindowController, OneWindowWithTheViewCentredOnTheScreen)
{
    AboutWindowController::shared().show();
    QWidget* window = test::topLevelNamed("aboutWindow");
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_NE(window->findChild<AboutWindowView*>(), nullptr);
    EXPECT_EQ(window->pos(), QPoint(399 - window->width() / 2, 399 - window->height() / 2));
    window->close();
    AboutWindowController::shared().show();
    EXPECT_EQ(test::topLevelNamed("aboutWindow"), window);
    EXPECT_TRUE(window->isVisible());
    window->close();
}
