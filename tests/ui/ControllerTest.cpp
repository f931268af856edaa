// The controller as the launch sequence builds it, without a tray: clicks stand in for the
// icon, the settings file lives in a temporary folder, and "today" is the test's.

#include "UiTestSupport.h"

#include "app/MenuBarAppDelegate.h"
#include "menubar/LowDiskPromptScheduler.h"
#include "menubar/PopupWindow.h"
#include "status/SystemStatusMonitor.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

namespace kmb {
namespace {

constexpr std::int64_t lowFree = 12'340'000'000;
constexpr std::int64_t plentyFree = 200'000'000'000;
const QPoint icon(1200, 10);
const QString firstDay = QStringLiteral("2026-12-07");
const QString nextDay = QStringLiteral("2026-12-08");

bool shown(const char* popup)
{
    const QWidget* widget = test::topLevelNamed(popup);
    return widget && widget->isVisible();
}

struct Launched {
    QTemporaryDir dir;
    test::ChosenSampler* sampler = new test::ChosenSampler;
    std::vector<QStringList> launches;
    QString today = firstDay;
    std::unique_ptr<MenuBarAppDelegate> delegate;

    // `recordedDay`: what the settings file holds at launch (nothing when empty).
    Launched(std::int64_t freeBytes, const QString& recordedDay)
    {
        sampler->volume = VolumeReading{QStringLiteral("data"), freeBytes, 500'000'000'000};
        if (!recordedDay.isEmpty())
            writeDay(recordedDay);
        MenuBarController::Dependencies dependencies;
        dependencies.sampler.reset(sampler);
        dependencies.settingsPath = settingsPath();
        dependencies.currentDayString = [this] { return today; };
        dependencies.launchCompanion = [this](const QStringList& a) { launches.push_back(a); };
        dependencies.useTray = false;
        delegate = std::make_unique<MenuBarAppDelegate>(std::move(dependencies));
        delegate->applicationDidFinishLaunching();
    }
    MenuBarController& controller() { return *delegate->controller(); }
    QString settingsPath() const { return dir.filePath(QStringLiteral("KorvantaMenuBar.conf")); }
    void writeDay(const QString& day)
    {
        QFile file(settingsPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[General]\nlowDiskSpacePrompt.lastShownDay=" + day.toLatin1() + '\n');
    }
    QByteArray settings() const
    {
        QFile file(settingsPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void click(QPoint at = icon) { controller().togglePopover(at); }
    QWidget* popup(const char* name) { return test::topLevelNamed(name); }
};

TEST(Launch, SamplesFirstThenBuildsDashboardAndMenuAndChecksSoonAfter)
{
    Launched t(lowFree, QString());
    EXPECT_EQ(t.controller().systemMonitor()->availableDiskBytes(), lowFree);
    ASSERT_NE(t.popup("dashboardPopover"), nullptr);
    EXPECT_EQ(t.popup("dashboardPopover")->size(), QSize(420, 384));
    auto* menu = qobject_cast<QMenu*>(t.popup("settingsMenu"));
    ASSERT_NE(menu, nullptr);
    QStringList entries;
    for (const QAction* action : menu->actions()) {
        entries << (action->isSeparator() ? QStringLiteral("---") : action->text());
        EXPECT_TRUE(action->shortcut().isEmpty());
    }
    EXPECT_EQ(entries, (QStringList{"关于 Korvanta", "提供反馈…", "---", "退出状态栏"}));
    // The first check runs once the event loop does, and records the day it shows the prompt.
    EXPECT_FALSE(shown("lowDiskPopover"));
    EXPECT_TRUE(QTest::qWaitFor([] { return shown("lowDiskPopover"); }, 10'000));
    EXPECT_TRUE(t.settings().contains("lowDiskSpacePrompt.lastShownDay=2026-12-07"));
    EXPECT_FALSE(shown("dashboardPopover"));
}

TEST(Clicks, FollowTheRulesInOrder)
{
    Launched t(lowFree, firstDay);
    t.click();
    EXPECT_TRUE(shown("dashboardPopover"));
    t.click();
    EXPECT_FALSE(shown("dashboardPopover"));

    t.writeDay(QStringLiteral("2026-12-06")); // due
    t.click();
    EXPECT_TRUE(shown("lowDiskPopover"));
    EXPECT_FALSE(shown("dashboardPopover"));
    EXPECT_EQ(t.popup("lowDiskPopover")->size(), QSize(338, 202));
    t.click(); // closes the prompt, and only that
    EXPECT_FALSE(shown("lowDiskPopover"));
    EXPECT_FALSE(shown("dashboardPopover"));
    t.click(); // the day is spent
    EXPECT_TRUE(shown("dashboardPopover"));

    t.today = nextDay; // due again, with the dashboard open
    t.click();
    EXPECT_FALSE(shown("dashboardPopover"));
    EXPECT_TRUE(shown("lowDiskPopover"));
}

TEST(Clicks, APressThatClosesAPopupOnTheIconCountsAsTheClickOnce)
{
    Launched t(lowFree, firstDay);
    t.click();
    ASSERT_TRUE(shown("dashboardPopover"));
    t.today = nextDay;
    // The popup's grab takes the press on the icon: it closes, and the click shows the due
    // prompt.
    test::pressAt(t.popup("dashboardPopover"), icon + QPoint(3, 2));
    EXPECT_FALSE(shown("dashboardPopover"));
    EXPECT_TRUE(QTest::qWaitFor([] { return shown("lowDiskPopover"); }, 10'000));
    // A host that passes the same click on to the icon: it is not a second click.
    t.click();
    EXPECT_TRUE(shown("lowDiskPopover"));
    // A press on the icon closes the prompt, and that is all that click does.
    test::pressAt(t.popup("lowDiskPopover"), icon);
    EXPECT_FALSE(shown("lowDiskPopover"));
    t.click();
    QCoreApplication::processEvents();
    EXPECT_FALSE(shown("dashboardPopover"));
    EXPECT_FALSE(shown("lowDiskPopover"));
    // A press elsewhere does not swallow a real click that follows at once.
    t.click();
    ASSERT_TRUE(shown("dashboardPopover"));
    test::pressAt(t.popup("dashboardPopover"), QPoint(40, 760));
    EXPECT_FALSE(shown("dashboardPopover"));
    t.click();
    EXPECT_TRUE(shown("dashboardPopover"));
}

TEST(Routes, TrayMenuAndSecondLaunchShowADuePromptFirst)
{
    Launched t(lowFree, QStringLiteral("2026-12-06"));
    t.delegate->showDashboard();
    EXPECT_TRUE(shown("lowDiskPopover"));
    EXPECT_FALSE(shown("dashboardPopover"));
    t.delegate->showDashboard(); // asked again: the prompt, its day recorded, gives way
    EXPECT_FALSE(shown("lowDiskPopover"));
    EXPECT_TRUE(shown("dashboardPopover"));
    t.delegate->showDashboard(); // and the dashboard stays open
    EXPECT_TRUE(shown("dashboardPopover"));
    t.today = nextDay;
    t.delegate->showDashboard();
    EXPECT_FALSE(shown("dashboardPopover"));
    EXPECT_TRUE(shown("lowDiskPopover"));
}

TEST(Prompt, ALaterDayReusesThePopupWithThatDaysFiguresAndOpeningDoesNotRearm)
{
    Launched t(lowFree, QStringLiteral("2026-12-06"));
    t.click();
    QWidget* prompt = t.popup("lowDiskPopover");
    ASSERT_TRUE(prompt && prompt->isVisible());
    EXPECT_EQ(test::labelText(prompt, "promptAvailable"), QStringLiteral("可用： 12.34 GB"));
    test::clickCentre(prompt, test::findNamed(prompt, "openButton"));
    EXPECT_EQ(t.launches, (std::vector<QStringList>{{}}));
    EXPECT_FALSE(prompt->isVisible());
    EXPECT_FALSE(t.controller().shouldShowLowDiskPrompt());
    t.click();
    EXPECT_TRUE(shown("dashboardPopover"));
    t.click();

    t.sampler->volume = VolumeReading{QStringLiteral("data"), 3'000'000'000, 500'000'000'000};
    t.controller().systemMonitor()->refresh();
    t.today = nextDay;
    t.click();
    EXPECT_EQ(t.popup("lowDiskPopover"), prompt);
    EXPECT_TRUE(prompt->isVisible());
    EXPECT_EQ(prompt->size(), QSize(338, 202));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the old content
    EXPECT_EQ(test::labelText(prompt, "promptAvailable"), QStringLiteral("可用： 3.00 GB"));
    test::clickCentre(prompt, test::findNamed(prompt, "ignoreButton"));
    EXPECT_FALSE(prompt->isVisible());
    EXPECT_FALSE(t.controller().shouldShowLowDiskPrompt());
}

TEST(Scheduler, ACheckShowsNothingWhereItMustNotAndKeepsTheDayInMemory)
{
    auto* sampler = new test::ChosenSampler;
    sampler->volume = VolumeReading{QStringLiteral("data"), lowFree, 500'000'000'000};
    SystemStatusMonitor monitor{std::unique_ptr<StatusSampler>(sampler)};
    bool anchorKnown = false;
    // A settings path that can never be written: the day is kept in memory.
    LowDiskPromptScheduler scheduler(
        &monitor, DayRecordStore(QStringLiteral("/proc/self/no/such.conf")),
        [&]() -> std::optional<QRect> {
            return anchorKnown ? std::optional(QRect(icon, QSize(1, 1))) : std::nullopt;
        },
        [] { return firstDay; });
    scheduler.checkLowDiskSpace(); // nothing sampled yet
    monitor.refresh();
    scheduler.checkLowDiskSpace(); // the dashboard is open, or no icon yet
    EXPECT_FALSE(scheduler.isPromptShown());
    anchorKnown = true;
    scheduler.checkLowDiskSpace();
    EXPECT_TRUE(scheduler.isPromptShown());
    scheduler.dismissLowDiskPrompt();
    scheduler.checkLowDiskSpace();
    EXPECT_FALSE(scheduler.isPromptShown());
    EXPECT_TRUE(scheduler.hasShownLowDiskPromptToday());
}

TEST(Commands, OpenFeedbackAndAbout)
{
    Launched t(plentyFree, firstDay);
    t.click();
    QWidget* dashboard = t.popup("dashboardPopover");
    test::clickCentre(dashboard, test::findNamed(dashboard, "headerButton"));
    EXPECT_FALSE(dashboard->isVisible());
    EXPECT_EQ(t.launches, (std::vector<QStringList>{{}}));

    auto* menu = qobject_cast<QMenu*>(t.popup("settingsMenu"));
    ASSERT_NE(menu, nullptr);
    t.click();
    menu->actions().at(1)->trigger(); // Feedback: the dashboard closes at once
    EXPECT_FALSE(dashboard->isVisible());
    EXPECT_EQ(t.launches.size(), 1u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return t.launches.size() == 2; }, 10'000));
    EXPECT_EQ(t.launches.back(), QStringList{"--show-feedback"});

    menu->actions().at(0)->trigger();
    QWidget* about = test::topLevelNamed("aboutWindow");
    ASSERT_TRUE(about && about->isVisible());
    EXPECT_EQ(about->size(), QSize(340, 250));
    about->close();
    menu->actions().at(0)->trigger();
    EXPECT_EQ(test::topLevelNamed("aboutWindow"), about);
    EXPECT_TRUE(about->isVisible());
    about->close();
}

} // namespace
} // namespace kmb
