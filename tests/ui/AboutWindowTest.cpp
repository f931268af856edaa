#include "UiTestSupport.h"

#include "views/AboutWindowController.h"
#include "views/AboutWindowView.h"

#include <QLayout>
#include <QPointer>
#include <QScreen>

namespace kmb {
namespace {

using test::findNamed;
using test::labelText;

const QString iconResource = QStringLiteral(":/icons/AppIcon.svg");

TEST(AboutWindow, OneReusedFixedWindowWithTheVersionLine)
{
    AboutWindowController& controller = AboutWindowController::shared();
    EXPECT_EQ(&controller, &AboutWindowController::shared());
    QPointer<QWidget> window = controller.window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->size(), QSize(340, 250));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_TRUE(window->windowTitle().isEmpty());
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(window->windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));

    EXPECT_TRUE(controller.versionText().startsWith(QStringLiteral("版本 1.0.0 (")));
    EXPECT_EQ(labelText(window, "aboutVersion"), controller.versionText());
    EXPECT_EQ(labelText(window, "aboutName"), QStringLiteral("Korvanta 菜单"));
    EXPECT_EQ(labelText(window, "aboutCopyright").count(QLatin1Char('\n')), 1);

    controller.show();
    controller.show();
    int shown = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        shown += widget->objectName() == QStringLiteral("aboutWindow") && widget->isVisible();
    EXPECT_EQ(shown, 1);
    test::saveGrab(window->grab(), QStringLiteral("about.png"));

    // Closing hides; the next request brings back the same window, centred again.
    window->move(0, 0);
    window->close();
    ASSERT_FALSE(window.isNull());
    EXPECT_FALSE(window->isVisible());
    controller.show();
    ASSERT_FALSE(window.isNull());
    EXPECT_TRUE(window->isVisible());
    const QRect screen = window->screen()->availableGeometry();
    EXPECT_LE((window->geometry().center() - screen.center()).manhattanLength(), 2);
    window->hide();
}

TEST(AboutWindow, TheGapAboveTheNameStaysWithOrWithoutTheIcon)
{
    AboutWindowView withIcon(QStringLiteral("版本 1.0.0 (dev)"), iconResource);
    withIcon.show();
    const QWidget* icon = findNamed(&withIcon, "aboutIcon");
    EXPECT_EQ(icon->size(), QSize(58, 58));
    EXPECT_EQ(findNamed(&withIcon, "aboutName")->y() - (icon->y() + icon->height()), 18);

    AboutWindowView without(QStringLiteral("版本 1.0.0 (dev)"), QStringLiteral(":/icons/None.svg"));
    without.show();
    EXPECT_EQ(without.findChild<QWidget*>(QStringLiteral("aboutIcon")), nullptr);
    const int nameIndex = without.layout()->indexOf(findNamed(&without, "aboutName"));
    ASSERT_GE(nameIndex, 1);
    EXPECT_EQ(without.layout()->itemAt(nameIndex - 1)->geometry().height(), 18);
}

TEST(AboutWindow, DraggingTheContentMovesTheWindow)
{
    QWidget window;
    auto* view = new AboutWindowView(QStringLiteral("版本 1.0.0 (dev)"), iconResource, &window);
    window.move(100, 100);
    window.show();
    const QPoint start = window.pos();
    const QPointF at(50, 40), to(80, 60);
    const auto send = [view](QEvent::Type type, QPointF point, Qt::MouseButton button,
                             Qt::MouseButtons held) {
        QMouseEvent event(type, point, view->mapToGlobal(point), button, held, Qt::NoModifier);
        QApplication::sendEvent(view, &event);
    };
    send(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(window.pos(), start + QPoint(30, 20));
    send(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

} // namespace
} // namespace kmb
