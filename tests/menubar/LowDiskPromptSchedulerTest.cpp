// The low-disk check, one step after the other: what each check shows, and where.

#include "UiTestSupport.h"

#include "menubar/LowDiskPromptScheduler.h"
#include "status/SystemStatusMonitor.h"

namespace kmb {
namespace {

TEST(LowDiskPromptScheduler, EachCheckShowsThePromptOnlyWhereAndWhenItMay)
{
    using Place = LowDiskPromptScheduler::Place;
    const Place underIcon{Place::popup, QRect(1200, 0, 24, 24)}, noTray{Place::notification, {}};
    auto* sampler = new test::ChosenSampler;
    sampler->volume = VolumeReading{QStringLiteral("data"), 12'340'000'000, 500'000'000'000};
    SystemStatusMonitor monitor{std::unique_ptr<StatusSampler>(sampler)};
    Place place;
    QString day = QStringLiteral("2026-12-07");
    std::vector<std::tuple<QString, qint64, qint64>> notified;
    // A settings path that can never be written: the day is kept in memory.
    LowDiskPromptScheduler scheduler(
        &monitor, DayRecordStore(QStringLiteral("/proc/self/no/such.conf")), [&] { return place; },
        [&] { return day; });
    QObject::connect(&scheduler, &LowDiskPromptScheduler::notificationDue,
                     [&](const QString& name, qint64 available, qint64 total) {
                         notified.emplace_back(name, available, total);
                     });
    const struct {
        const char* step;
        std::function<void()> before;
        bool prompt;
        int notifications;
    } steps[] = {
        {"nothing sampled yet", [&] { place = underIcon; }, false, 0},
        {"dashboard open, or tray still coming", [&] { monitor.refresh(), place = {}; }, false, 0},
        {"under the icon", [&] { place = underIcon; }, true, 0},
        {"dismissed: the day is spent", [&] { scheduler.dismissLowDiskPrompt(); }, false, 0},
        {"next day, no tray: notified", [&] { day = "2026-12-08", place = noTray; }, false, 1},
        {"and only one that day", [] {}, false, 1},
    };
    for (const auto& step : steps) {
        step.before();
        scheduler.checkLowDiskSpace();
        EXPECT_EQ(scheduler.isPromptShown(), step.prompt) << step.step;
        EXPECT_EQ(notified.size(), std::size_t(step.notifications)) << step.step;
    }
    EXPECT_EQ(notified, (std::vector{std::tuple<QString, qint64, qint64>("data", 12'340'000'000,
                                                                         500'000'000'000)}));
    EXPECT_TRUE(scheduler.hasShownLowDiskPromptToday());
}

} // namespace
} // namespace kmb
