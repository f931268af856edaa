#include "UiTestSupport.h"

#include "menubar/PopupWindow.h"
#include "status/SystemStatusMonitor.h"
#include "views/FocusRing.h"
#include "views/LowDiskSpacePromptView.h"
#include "views/MenuBarPanelView.h"
#include "views/PlainButton.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QKeyEvent>
#include <QMenu>

namespace kmb {
namespace {

using test::findNamed;

// Delivers a key the way the application does while a popup is open: to the popup's
// focused control, or to the popup itself when none has focus.
void pressKey(PopupWindow& popup, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWidget* receiver = popup.focusWidget() ? popup.focusWidget() : &popup;
    if (!receiver->hasFocus())
        receiver = &popup;
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(receiver, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(receiver, &release);
}

QString focusedName()
{
    QWidget* focused = QApplication::focusWidget();
    return focused ? focused->objectName() : QStringLiteral("<none>");
}

class DashboardKeyboardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto sampler = std::make_unique<test::ChosenSampler>();
        sampler->volume =
            VolumeReading{QStringLiteral("Macintosh HD"), 1'500'000'000, 500'000'000'000};
        monitor = std::make_unique<SystemStatusMonitor>(std::move(sampler));
        monitor->refresh();
        popup = std::make_unique<PopupWindow>(
            QSize(MenuBarPanelView::panelWidth, MenuBarPanelView::panelHeight));
        panel = new MenuBarPanelView(
            monitor.get(), [this] { ++opened; }, [] {}, [this] { return &menu; });
        popup->setContent(panel);
        menu.addAction(QStringLiteral("About"));
        popup->showRelativeTo(QRect(600, 0, 24, 24));
        ASSERT_TRUE(popup->isVisible());
    }
    void TearDown() override
    {
        menu.hide();
        popup->performClose();
    }

    // The control that has focus after each Tab, in order.
    QStringList tabbedNames(int presses)
    {
        QStringList names;
        for (int i = 0; i < presses; ++i) {
            pressKey(*popup, Qt::Key_Tab);
            QWidget* focused = QApplication::focusWidget();
            QString name = focused ? focused->objectName() : QStringLiteral("<none>");
            if (focused && focused->parentWidget() && name == QLatin1String("cardButton"))
                name = focused->parentWidget()->parentWidget()->objectName() + "/" + name;
            names << name;
        }
        return names;
    }

    std::unique_ptr<SystemStatusMonitor> monitor;
    std::unique_ptr<PopupWindow> popup;
    MenuBarPanelView* panel = nullptr;
    QMenu menu;
    int opened = 0;
};

TEST_F(DashboardKeyboardTest, TabVisitsEveryButtonInReadingOrderAndWraps)
{
    EXPECT_EQ(QApplication::focusWidget(), nullptr) << "a control had focus before any Tab";
    EXPECT_EQ(tabbedNames(6),
              (QStringList{"headerButton", "volumeCard/cardButton", "memoryCard/cardButton",
                           "cleanedTotalButton", "settingsButton", "headerButton"}));
    // And back.
    pressKey(*popup, Qt::Key_Backtab);
    EXPECT_EQ(focusedName(), QStringLiteral("settingsButton"));
}

TEST_F(DashboardKeyboardTest, ReturnEnterAndSpacePressTheFocusedButton)
{
    pressKey(*popup, Qt::Key_Tab); // header
    pressKey(*popup, Qt::Key_Return);
    EXPECT_EQ(opened, 1);
    pressKey(*popup, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(opened, 2);
    pressKey(*popup, Qt::Key_Return, Qt::ControlModifier); // not a press
    EXPECT_EQ(opened, 2);
    pressKey(*popup, Qt::Key_Tab); // the volume tile's button
    pressKey(*popup, Qt::Key_Space);
    EXPECT_EQ(opened, 3);

    tabbedNames(3); // memory tile, cleaned total, gear
    ASSERT_EQ(focusedName(), QStringLiteral("settingsButton"));
    pressKey(*popup, Qt::Key_Return);
    EXPECT_TRUE(menu.isVisible()) << "Return on the gear did not open the settings menu";
    EXPECT_EQ(opened, 3);
}

TEST_F(DashboardKeyboardTest, FocusRingSurroundsOnlyTheFocusedButton)
{
    auto* header = findNamed<PlainButton>(panel, "headerButton");
    auto* gear = findNamed<PlainButton>(panel, "settingsButton");
    EXPECT_EQ(header->visibleFocusRing(), nullptr);

    pressKey(*popup, Qt::Key_Tab);
    FocusRing* ring = header->visibleFocusRing();
    ASSERT_NE(ring, nullptr);
    // In the popup, above the controls, just outside the header on every side.
    EXPECT_EQ(ring->parentWidget(), popup.get());
    const QRect headerInPopup(header->mapTo(popup.get(), QPoint(0, 0)), header->size());
    EXPECT_EQ(ring->geometry(), headerInPopup.adjusted(-FocusRing::outset, -FocusRing::outset,
                                                       FocusRing::outset, FocusRing::outset));
    EXPECT_TRUE(ring->testAttribute(Qt::WA_TransparentForMouseEvents));

    // The ring is drawn: the popup looks different where it runs.
    const QImage withRing = popup->grab().toImage();
    pressKey(*popup, Qt::Key_Backtab); // to the gear
    EXPECT_EQ(header->visibleFocusRing(), nullptr);
    ASSERT_NE(gear->visibleFocusRing(), nullptr);
    const QImage withoutRing = popup->grab().toImage();
    const QPoint onRing = ring->geometry().topLeft() + QPoint(40, 1);
    EXPECT_NE(withRing.pixel(onRing), withoutRing.pixel(onRing));
    test::saveGrab(QPixmap::fromImage(withoutRing), QStringLiteral("dashboard-gear-focused.png"));
}

TEST_F(DashboardKeyboardTest, MouseClicksLeaveNoFocusAndReopeningStartsAfresh)
{
    test::clickCentre(panel, findNamed(findNamed(panel, "volumeCard"), "cardButton"));
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(QApplication::focusWidget(), nullptr) << focusedName().toStdString();

    tabbedNames(2);
    ASSERT_EQ(focusedName(), QStringLiteral("cardButton"));
    popup->performClose();
    popup->showRelativeTo(QRect(600, 0, 24, 24));
    EXPECT_EQ(QApplication::focusWidget(), nullptr) << focusedName().toStdString();
    for (const PlainButton* button : panel->findChildren<PlainButton*>())
        EXPECT_EQ(button->visibleFocusRing(), nullptr) << button->objectName().toStdString();
}

TEST_F(DashboardKeyboardTest, EscapeClosesThePopupWhereverFocusIs)
{
    pressKey(*popup, Qt::Key_Escape);
    EXPECT_FALSE(popup->isVisible());

    popup->showRelativeTo(QRect(600, 0, 24, 24));
    tabbedNames(3);
    pressKey(*popup, Qt::Key_Escape);
    EXPECT_FALSE(popup->isVisible());
    EXPECT_EQ(opened, 0) << "Escape pressed the focused button";
}

TEST_F(DashboardKeyboardTest, ScreenReadersGetANameAndRoleForEveryControlAndFigure)
{
    for (QAbstractButton* button : panel->findChildren<QAbstractButton*>()) {
        if (!button->isVisibleTo(panel))
            continue;
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(button);
        ASSERT_NE(accessible, nullptr);
        EXPECT_EQ(accessible->role(), QAccessible::Button) << button->objectName().toStdString();
        EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty())
            << button->objectName().toStdString();
        EXPECT_TRUE(accessible->state().focusable) << button->objectName().toStdString();
        EXPECT_NE(accessible->actionInterface(), nullptr);
    }
    // The two "释放" buttons say which tile they belong to.
    for (const char* card : {"volumeCard", "memoryCard"}) {
        QAccessibleInterface* button =
            QAccessible::queryAccessibleInterface(findNamed(findNamed(panel, card), "cardButton"));
        EXPECT_EQ(button->text(QAccessible::Name), QStringLiteral("释放"));
        EXPECT_EQ(button->text(QAccessible::Description), findNamed(panel, card)->accessibleName());
    }
    // Tiles are named groups; their figures are named texts.
    for (const char* card : {"volumeCard", "memoryCard", "batteryCard", "cpuCard"}) {
        QAccessibleInterface* tile = QAccessible::queryAccessibleInterface(findNamed(panel, card));
        EXPECT_EQ(tile->role(), QAccessible::Grouping) << card;
        EXPECT_FALSE(tile->text(QAccessible::Name).isEmpty()) << card;
        for (const char* part : {"cardTitle", "cardValue"}) {
            QAccessibleInterface* figure =
                QAccessible::queryAccessibleInterface(findNamed(findNamed(panel, card), part));
            EXPECT_EQ(figure->role(), QAccessible::StaticText) << card << "/" << part;
            EXPECT_FALSE(figure->text(QAccessible::Name).isEmpty()) << card << "/" << part;
        }
    }
    EXPECT_EQ(QAccessible::queryAccessibleInterface(findNamed(panel, "cleanedTotalButton"))
                  ->text(QAccessible::Name),
              test::labelText(panel, "cleanedTotalText"));
}

TEST(PromptKeyboard, TabReachesIgnoreThenOpenAndEnterPressesThem)
{
    int dismissed = 0;
    int opened = 0;
    PopupWindow popup(
        QSize(LowDiskSpacePromptView::promptWidth, LowDiskSpacePromptView::promptHeight));
    popup.setContent(new LowDiskSpacePromptView(
        QStringLiteral("data"), 12'340'000'000, 500'000'000'000, [&dismissed] { ++dismissed; },
        [&opened] { ++opened; }));
    popup.showRelativeTo(QRect(600, 0, 24, 24));

    pressKey(popup, Qt::Key_Tab);
    EXPECT_EQ(focusedName(), QStringLiteral("ignoreButton"));
    pressKey(popup, Qt::Key_Tab);
    EXPECT_EQ(focusedName(), QStringLiteral("openButton"));
    pressKey(popup, Qt::Key_Return);
    EXPECT_EQ(opened, 1);
    pressKey(popup, Qt::Key_Tab);
    EXPECT_EQ(focusedName(), QStringLiteral("ignoreButton"));
    pressKey(popup, Qt::Key_Enter);
    EXPECT_EQ(dismissed, 1);
    EXPECT_EQ(opened, 1);
    pressKey(popup, Qt::Key_Escape);
    EXPECT_FALSE(popup.isVisible());
}

} // namespace
} // namespace kmb
