#include "UiTestSupport.h"

#include "views/AboutWindowView.h"

using namespace kmb;

TEST(AboutWindowView, VersionLineAndLayoutWithAndWithoutTheIcon)
{
    EXPECT_EQ(aboutVersionText("2.1", "210"), QStringLiteral("版本 2.1 (210)"));
    EXPECT_EQ(aboutVersionText(QString(), "37"), QStringLiteral("版本 1.0.0 (37)"));
    AboutWindowView withIcon(QStringLiteral("版本 2.1 (210)"), ":/icons/AppIcon.svg");
    AboutWindowView without(QStringLiteral("版本 2.1 (210)"), ":/no/such.svg");
    withIcon.show();
    without.show();
    EXPECT_EQ(without.findChild<QWidget*>("aboutIcon"), nullptr);
    // The name keeps the 18-point gap below where the icon was.
    const QWidget* icon = test::findNamed(&withIcon, "aboutIcon");
    EXPECT_EQ(test::findNamed(&withIcon, "aboutName")->y(), icon->geometry().bottom() + 1 + 18);
    EXPECT_EQ(test::labelText(&withIcon, "aboutVersion"), QStringLiteral("版本 2.1 (210)"));
    test::saveGrabs(&withIcon, "about");
}
