// The controller as launched, without a tray: clicks stand in for the icon, "today" is the test's.

#include "UiTestSupport.h"

#include "app/MenuBarAppDelegate.h"
#include "status/SystemStatusMonitor.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace kmb {
namespace {

const QString firstDay = QStringLiteral("2026-12-07");
const QString nextDay = QStringLiteral("2026-12-08");

// The popups on screen: "dashboard", "prompt", both or none.
QString showing()
{
    QStringList names;
    for (const auto& [object, name] :
         {std::pair{"dashboardPopover", "dashboard"}, std::pair{"lowDiskPopover", "prompt"}})
        if (const QWidget* widget = test::topLevelNamed(object); widget && widget->isVisible())
            names << name;
    return names.join('+');
}

struct Launched {
    QTemporaryDir dir;
    test::ChosenSampler* sampler = new test::ChosenSampler;
    std::vector<QStringList> launches;
    QString today = firstDay;
    std::int64_t clockMs = 0; // a second passes at every look
    std::unique_ptr<MenuBarAppDelegate> delegate;

    // `recordedDay`: what the settings file holds at launch.
    explicit Launched(const QString& recordedDay)
    {
        sampler->volume = VolumeReading{QStringLiteral("data"), 12'340'000'000, 500'000'000'000};
        writeDay(recordedDay);
        delegate = std::make_unique<MenuBarAppDelegate>(MenuBarController::Dependencies{
            .sampler = std::unique_ptr<StatusSampler>(sampler),
            .settingsPath = dir.filePath(QStringLiteral("KorvantaMenuBar.conf")),
            .currentDayString = [this] { return today; },
            .launchCompanion = [this](const QStringList& a,
                                      const LaunchActivation&) { launches.push_back(a); },
            .useTray = false,
            .clockMs = [this] { return clockMs += 1000; }});
        delegate->applicationDidFinishLaunching();
    }
    MenuBarController& controller() { return *delegate->controller(); }
    void writeDay(const QString& day)
    {
        QFile file(dir.filePath(QStringLiteral("KorvantaMenuBar.conf")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[General]\nlowDiskSpacePrompt.lastShownDay=" + day.toLatin1() + '\n');
    }
    void click() { controller().togglePopover(QPoint(1200, 10)); }
};

// A later day's prompt comes in the same popup, with that day's figures.
TEST(MenuBarController, IconClicksFollowTheRulesInOrder)
{
    Launched t(firstDay);
    t.click();
    EXPECT_EQ(showing(), "dashboard");
    // Tab walks the dashboard's buttons in reading order; shown again, from the first.
    QWidget* dashboard = test::topLevelNamed("dashboardPopover");
    const auto tabTo = [&](QWidget* parent, const char* name) {
        ASSERT_TRUE(test::waitFor([] { return QApplication::focusWindow() != nullptr; }));
        QTest::keyClick(dashboard, Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), test::findNamed(parent, name)) << name;
    };
    tabTo(dashboard, "headerButton");
    for (const char* card : {"volumeCard", "memoryCard"})
        tabTo(test::findNamed(dashboard, card), "cardButton");
    for (const char* name : {"cleanedTotalButton", "settingsButton", "headerButton"})
        tabTo(dashboard, name);
    t.click();
    EXPECT_EQ(showing(), "");
    t.writeDay(QStringLiteral("2026-12-06")); // due
    t.click();
    ASSERT_EQ(showing(), "prompt");
    QWidget* prompt = test::topLevelNamed("lowDiskPopover");
    EXPECT_EQ(test::labelText(prompt, "promptHeadline"), QStringLiteral("磁盘空间快用完了！"));
    t.click(); // closes the prompt, and only that
    EXPECT_EQ(showing(), "");
    t.click(); // the day is spent
    EXPECT_EQ(showing(), "dashboard");
    tabTo(dashboard, "headerButton");

    t.sampler->volume = VolumeReading{QStringLiteral("data"), 3'000'000'000, 500'000'000'000};
    t.controller().systemMonitor()->refresh();
    t.today = nextDay; // due again, with the dashboard open
    t.click();
    EXPECT_EQ(showing(), "prompt");
    EXPECT_EQ(test::topLevelNamed("lowDiskPopover"), prompt);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the old content
    EXPECT_EQ(test::labelText(prompt, "promptAvailable"), QStringLiteral("可用： 3.00 GB"));
    test::saveGrabs(prompt, QStringLiteral("prompt"));
    QWidget* open = test::findNamed(prompt, "openButton");
    EXPECT_EQ(open->accessibleName(), QStringLiteral("打开 Korvanta"));
    test::clickCentre(prompt, open);
    EXPECT_EQ(t.launches, (std::vector<QStringList>{{}}));
    EXPECT_EQ(showing(), "");
    t.today = QStringLiteral("2026-12-09");
    t.click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    test::clickCentre(prompt, test::findNamed(prompt, "ignoreButton"));
    EXPECT_EQ(showing(), "");
    EXPECT_EQ(t.launches.size(), 1u) << "ignoring opens nothing";
}

// The tray menu's "打开面板" and a second launch (showDashboard) both ask for the dashboard.
TEST(MenuBarController, AskedForTheDashboardADuePromptComesFirst)
{
    Launched t(QStringLiteral("2026-12-06"));
    auto* menu = qobject_cast<QMenu*>(test::topLevelNamed("trayMenu"));
    ASSERT_NE(menu, nullptr);
    QStringList entries;
    for (const QAction* action : menu->actions())
        entries << (action->isSeparator() ? QStringLiteral("—") : action->text());
    EXPECT_EQ(entries,
              QStringList({"打开面板", "—", "关于 Korvanta", "提供反馈…", "—", "退出状态栏"}));
    menu->actions().constFirst()->trigger();
    EXPECT_EQ(showing(), "prompt");
    t.delegate->showDashboard(); // asked again: the prompt, its day recorded, gives way
    EXPECT_EQ(showing(), "dashboard");
    menu->actions().at(3)->trigger(); // "提供反馈…": the dashboard goes first, then Korvanta
    EXPECT_EQ(showing(), "");
    EXPECT_TRUE(t.launches.empty());
    ASSERT_TRUE(test::waitFor([&] { return !t.launches.empty(); }));
    EXPECT_EQ(t.launches, std::vector{QStringList{"--show-feedback"}});
    t.delegate->showDashboard(); // the day is spent: the dashboard
    t.today = nextDay;           // due again, over the open dashboard
    t.delegate->showDashboard();
    EXPECT_EQ(showing(), "prompt");
}

} // namespace
} // namespace kmb
