// The controller as the launch sequence builds it, without a tray: clicks stand in for the
// icon, the settings file lives in a temporary folder, and "today" is the test's.

#include "UiTestSupport.h"

#include "app/MenuBarAppDelegate.h"
#include "menubar/LowDiskPromptScheduler.h"
#include "menubar/PopupWindow.h"
#include "status/SystemStatusMonitor.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

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
    std::int64_t clockMs = 0; // a second passes at every look
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
        dependencies.launchCompanion = [this](const QStringList& a, const LaunchActivation&) {
            launches.push_back(a);
        };
        dependencies.useTray = false;
        dependencies.clockMs = [this] { return clockMs += 1000; };
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

TEST(Launch, SamplesFirstThenBuildsTheDashboardAndChecksSoonAfter)
{
    Launched t(lowFree, QString());
    EXPECT_EQ(t.controller().systemMonitor()->availableDiskBytes(), lowFree);
    ASSERT_NE(t.popup("dashboardPopover"), nullptr);
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
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the old content
    EXPECT_EQ(test::labelText(prompt, "promptAvailable"), QStringLiteral("可用： 3.00 GB"));
    test::saveGrabs(prompt, QStringLiteral("prompt"));
    test::clickCentre(prompt, test::findNamed(prompt, "ignoreButton"));
    EXPECT_FALSE(prompt->isVisible());
    EXPECT_EQ(t.launches.size(), 1u) << "ignoring opens nothing";
    EXPECT_FALSE(t.controller().shouldShowLowDiskPrompt());
}

TEST(Scheduler, ACheckShowsNothingWhereItMustNotAndKeepsTheDayInMemory)
{
    using Place = LowDiskPromptScheduler::Place;
    auto* sampler = new test::ChosenSampler;
    sampler->volume = VolumeReading{QStringLiteral("data"), lowFree, 500'000'000'000};
    SystemStatusMonitor monitor{std::unique_ptr<StatusSampler>(sampler)};
    Place place;
    QString day = firstDay;
    std::vector<qint64> notified;
    // A settings path that can never be written: the day is kept in memory.
    LowDiskPromptScheduler scheduler(
        &monitor, DayRecordStore(QStringLiteral("/proc/self/no/such.conf")), [&] { return place; },
        [&] { return day; });
    QObject::connect(&scheduler, &LowDiskPromptScheduler::notificationDue,
                     [&](const QString& name, qint64 available, qint64 total) {
                         EXPECT_EQ(name, QStringLiteral("data"));
                         EXPECT_EQ(total, 500'000'000'000);
                         notified.push_back(available);
                     });
    place = {Place::popup, QRect(icon, QSize(1, 1))};
    scheduler.checkLowDiskSpace(); // nothing sampled yet
    monitor.refresh();
    place = {};
    scheduler.checkLowDiskSpace(); // the dashboard is open, or the tray is still coming
    EXPECT_FALSE(scheduler.isPromptShown());
    place = {Place::popup, QRect(icon, QSize(1, 1))};
    scheduler.checkLowDiskSpace();
    EXPECT_TRUE(scheduler.isPromptShown());
    scheduler.dismissLowDiskPrompt();
    scheduler.checkLowDiskSpace();
    EXPECT_FALSE(scheduler.isPromptShown());
    EXPECT_TRUE(scheduler.hasShownLowDiskPromptToday());
    // No tray: the next day's warning is a notification, once that day, and no popup.
    day = nextDay;
    place = {Place::notification, {}};
    scheduler.checkLowDiskSpace();
    scheduler.checkLowDiskSpace();
    EXPECT_EQ(notified, std::vector<qint64>{lowFree});
    EXPECT_FALSE(scheduler.isPromptShown());
}

// The window that had the focus gives it up only a moment after it closed, which may be after
// the next popup has shown: that loss must not close the new popup, a later one must.
TEST(Popup, AFocusLossBeforeItsOwnFocusDoesNotCloseIt)
{
    PopupWindow popup(QSize(100, 80));
    popup.showRelativeTo(QRect(icon, QSize(1, 1)));
    popup.windowHandle()->close(); // what Qt does when the application loses the focus
    EXPECT_TRUE(popup.isVisible());
    QTRY_COMPARE(QGuiApplication::focusWindow(), popup.windowHandle());
    popup.windowHandle()->close();
    EXPECT_FALSE(popup.isVisible());
    popup.showRelativeTo(QRect(icon, QSize(1, 1)));
    popup.windowHandle()->close();
    EXPECT_TRUE(popup.isVisible()) << "focused before, not yet since this showing";
    popup.performClose();
}

} // namespace
} // namespace kmb
