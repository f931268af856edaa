#include "menubar/LowDiskSpaceRule.h"
#include "menubar/MenuBarController.h"
#include "status/FallbackStatusSampler.h"
#include "status/FallbackTexts.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using kmb::MenuBarController;

namespace {

// A home volume whose free space the test sets.
class VolumeSampler : public kmb::FallbackStatusSampler {
public:
    std::optional<kmb::VolumeReading> volume;
    std::optional<kmb::VolumeReading> readHomeVolume() override { return volume; }
};


struct ControllerUnderTest {
    QTemporaryDir dir;
    VolumeSampler* sampler = new VolumeSampler;
    std::vector<QStringList> launches;
    std::unique_ptr<MenuBarController> controller;

    explicit ControllerUnderTest(std::optional<std::int64_t> availableBytes,
                                 QString settingsPath = {})
    {
        if (availableBytes)
            sampler->volume =
                kmb::VolumeReading{QStringLiteral("data"), *availableBytes, 500'000'000'000};
        MenuBarController::Dependencies dependencies;
        dependencies.sampler.reset(sampler);
        dependencies.settingsPath = settingsPath.isEmpty()
                                        ? dir.filePath(QStringLiteral("KorvantaMenuBar.conf"))
                                        : settingsPath;
        dependencies.launchCompanion = [this](const QStringList& a) { launches.push_back(a); };
        dependencies.useTray = false;
        controller = std::make_unique<MenuBarController>(std::move(dependencies));
        // The launch sequence, less the tray.
        controller->systemMonitor()->startMonitoring();
        controller->setupPopover();
        controller->setupSettingsMenu();
    }

    void click() { controller->togglePopover(QPoint(600, 10)); }
    bool dashboardShown() const { return controller->popover()->isShown(); }
    bool promptShown() const
    {
        return controller->lowDiskPopover() && controller->lowDiskPopover()->isShown();
    }
    QString settingsPath() const { return dir.filePath(QStringLiteral("KorvantaMenuBar.conf")); }
};

constexpr std::int64_t plentyFree = 200'000'000'000;
constexpr std::int64_t lowFree = 12'340'000'000;

TEST(MenuBarController, ClickOpensAndSecondClickClosesTheDashboard)
{
    ControllerUnderTest t(plentyFree);
    t.click();
    EXPECT_TRUE(t.dashboardShown());
    EXPECT_EQ(t.controller->popover()->size(), QSize(420, 384));
    t.click();
    EXPECT_FALSE(t.dashboardShown());
    EXPECT_FALSE(t.promptShown());
}

TEST(MenuBarController, DueClickShowsThePromptOnceThenTheDashboard)
{
    ControllerUnderTest t(lowFree);
    t.click();
    EXPECT_FALSE(t.dashboardShown());
    ASSERT_TRUE(t.promptShown());
    EXPECT_EQ(t.controller->lowDiskPopover()->size(), QSize(338, 202));
    EXPECT_EQ(QSettings(t.settingsPath(), QSettings::IniFormat)
                  .value(QStringLiteral("lowDiskSpacePrompt.lastShownDay"))
                  .toString(),
              kmb::currentDayString());
    // The click while the prompt is shown only closes it.
    t.click();
    EXPECT_FALSE(t.promptShown());
    EXPECT_FALSE(t.dashboardShown());
    // The day is spent: the next click opens the dashboard.
    t.click();
    EXPECT_TRUE(t.dashboardShown());
    EXPECT_FALSE(t.promptShown());
}

TEST(MenuBarController, PromptIsDueAgainOnAnotherDay)
{
    ControllerUnderTest t(lowFree);
    {
        QSettings settings(t.settingsPath(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("lowDiskSpacePrompt.lastShownDay"),
                          QStringLiteral("2000-01-01"));
    }
    EXPECT_TRUE(t.controller->shouldShowLowDiskPrompt());
    {
        QSettings settings(t.settingsPath(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("lowDiskSpacePrompt.lastShownDay"),
                          kmb::currentDayString());
    }
    EXPECT_FALSE(t.controller->shouldShowLowDiskPrompt());
}

TEST(MenuBarController, NoPromptBeforeTheVolumeWasSampled)
{
    ControllerUnderTest t(std::nullopt);
    EXPECT_FALSE(t.controller->shouldShowLowDiskPrompt());
    t.click();
    EXPECT_TRUE(t.dashboardShown());
}

TEST(MenuBarController, UnwritableSettingsStillGiveOncePerDay)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("conf-is-a-directory"));
    ASSERT_TRUE(QDir().mkpath(path));
    ControllerUnderTest t(lowFree, path);
    t.controller->checkLowDiskSpace();
    ASSERT_TRUE(t.promptShown());
    t.controller->dismissLowDiskPrompt();
    EXPECT_FALSE(t.promptShown());
    t.controller->checkLowDiskSpace();
    EXPECT_FALSE(t.promptShown());
    EXPECT_TRUE(QFileInfo(path).isDir());
}

TEST(MenuBarController, PeriodicCheckNeverCoversAnOpenDashboard)
{
    ControllerUnderTest t(plentyFree);
    t.click();
    ASSERT_TRUE(t.dashboardShown());
    t.sampler->volume->availableBytes = lowFree;
    t.controller->systemMonitor()->refresh();
    t.controller->checkLowDiskSpace();
    EXPECT_FALSE(t.promptShown());
    t.click(); // closes the dashboard
    t.controller->checkLowDiskSpace();
    EXPECT_TRUE(t.promptShown());
}

TEST(MenuBarController, FirstCheckComesAfterLaunchAndOneTimerRepeats)
{
    ControllerUnderTest t(lowFree);
    t.controller->startLowDiskSpaceMonitoring();
    t.controller->startLowDiskSpaceMonitoring();
    EXPECT_FALSE(t.promptShown());
    EXPECT_EQ(t.controller->lowDiskPromptTimer()->interval(), 60'000);
    EXPECT_EQ(t.controller->findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
    QElapsedTimer clock;
    clock.start();
    while (!t.promptShown() && clock.elapsed() < 3000)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_TRUE(t.promptShown());
    EXPECT_GE(clock.elapsed(), 700);
}

TEST(MenuBarController, OpenActionClosesBothPopupsAndLaunchesWithoutArguments)
{
    ControllerUnderTest t(lowFree);
    t.click();
    ASSERT_TRUE(t.promptShown());
    t.controller->closePopoversAndOpenCompanion();
    EXPECT_FALSE(t.promptShown());
    EXPECT_FALSE(t.dashboardShown());
    ASSERT_EQ(t.launches.size(), 1u);
    EXPECT_TRUE(t.launches[0].isEmpty());
}

TEST(MenuBarController, SettingsMenuHoldsTheFourEntriesWithoutShortcuts)
{
    ControllerUnderTest t(plentyFree);
    QMenu* menu = t.controller->settingsMenu();
    ASSERT_NE(menu, nullptr);
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 4);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("关于 Korvanta"));
    EXPECT_EQ(actions[1]->text(), QStringLiteral("提供反馈…"));
    EXPECT_TRUE(actions[2]->isSeparator());
    EXPECT_EQ(actions[3]->text(), QStringLiteral("退出状态栏"));
    for (QAction* action : actions)
        EXPECT_TRUE(action->shortcut().isEmpty());
}

TEST(MenuBarController, FeedbackClosesThePopupsAndLaunchesAfterTwoSteps)
{
    ControllerUnderTest t(plentyFree);
    t.click();
    ASSERT_TRUE(t.dashboardShown());
    QElapsedTimer clock;
    clock.start();
    t.controller->settingsMenu()->actions()[1]->trigger();
    EXPECT_FALSE(t.dashboardShown());
    EXPECT_TRUE(t.launches.empty());
    while (t.launches.empty() && clock.elapsed() < 3000)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_EQ(t.launches.size(), 1u);
    EXPECT_EQ(t.launches[0], QStringList{QStringLiteral("--show-feedback")});
    EXPECT_GE(clock.elapsed(), 380);
}

} // namespace

#include "menubar/StatusNotifierRegistration.h"

namespace {

TEST(StatusNotifierRegistration, RecognisesOurItemInTheWatchersList)
{
    using kmb::StatusNotifierRegistration;
    const QString unique = QStringLiteral(":1.42");
    struct Case {
        QStringList items;
        bool ours;
    } cases[] = {
        {{}, false},
        {{QStringLiteral(":1.42")}, true},
        {{QStringLiteral(":1.42/StatusNotifierItem")}, true},
        {{QStringLiteral("org.kde.StatusNotifierItem-777-1/StatusNotifierItem")}, true},
        {{QStringLiteral("org.kde.StatusNotifierItem-7770-1")}, false},
        {{QStringLiteral(":1.420"), QStringLiteral(":1.4")}, false},
        {{QStringLiteral("org.kde.StatusNotifierItem-12-1"), QStringLiteral(":1.42")}, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StatusNotifierRegistration::listsOurItem(c.items, unique, 777), c.ours)
            << c.items.join(QLatin1Char(',')).toStdString();
}

TEST(MenuBarController, ShowDashboardOpensItOnceAndClosesThePrompt)
{
    ControllerUnderTest t(lowFree);
    t.controller->checkLowDiskSpace();
    ASSERT_TRUE(t.promptShown());
    t.controller->showDashboard();
    EXPECT_TRUE(t.dashboardShown());
    EXPECT_FALSE(t.promptShown());
    t.controller->showDashboard();
    EXPECT_TRUE(t.dashboardShown());
}

} // namespace
