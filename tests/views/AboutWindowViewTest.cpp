#include "UiTestSupport.h"

#include "views/AboutWindowView.h"

namespace kmb {
namespace {

using test::findNamed;
using test::labelText;

TEST(AboutWindowView, VersionLineAndLayoutWithAndWithoutTheIcon)
{
    EXPECT_EQ(aboutVersionText(QStringLiteral("2.1"), QStringLiteral("210")),
              QStringLiteral("版本 2.1 (210)"));
    EXPECT_EQ(aboutVersionText(QString(), QStringLiteral("37")), QStringLiteral("版本 1.0.0 (37)"));
    AboutWindowView withIcon(QStringLiteral("版本 2.1 (210)"),
                             QStringLiteral(":/icons/AppIcon.svg"));
    AboutWindowView without(QStringLiteral("版本 2.1 (210)"), QStringLiteral(":/no/such.svg"));
    withIcon.show();
    without.show();
    EXPECT_EQ(without.findChild<QWidget*>(QStringLiteral("aboutIcon")), nullptr);
    // The name keeps the 18-point gap below where the icon was.
    const QWidget* icon = findNamed(&withIcon, "aboutIcon");
    EXPECT_EQ(findNamed(&withIcon, "aboutName")->y(), icon->geometry().bottom() + 1 + 18);
    EXPECT_EQ(labelText(&withIcon, "aboutVersion"), QStringLiteral("版本 2.1 (210)"));
    test::saveGrabs(&withIcon, QStringLiteral("about"));
}

} // namespace
} // namespace kmb
