#include "status/CpuLoadSampling.h"

#include <gtest/gtest.h>

using kmb::CpuTimes;

TEST(CpuLoad, ParsesTheAggregateLine)
{
    // guest and guest_nice (the last two) are already counted in user and nice.
    const std::optional<CpuTimes> times =
        kmb::parseCpuStat("intr 1 2\ncpu  10 20 30 400 50 6 7 8 90 100\ncpu0 1 1 1 1 1 1 1 1\n");
    ASSERT_TRUE(times.has_value());
    EXPECT_EQ(times->total, 531u);
    EXPECT_EQ(times->idle, 450u);
    EXPECT_EQ(kmb::parseCpuStat("cpu  1 2 3 4\n")->total, 10u); // kernels before iowait
    for (const char* bad : {"cpu0 1 2 3 4 5 6 7 8\n", "cpu  1 2 x 4 5\n", "cpu  1 2 3\n",
                            "cpu  18446744073709551615 1 0 0\n"})
        EXPECT_FALSE(kmb::parseCpuStat(bad).has_value()) << bad;
}

TEST(CpuLoad, PercentRoundsToNearestAndClamps)
{
    const struct {
        std::uint64_t idleDelta, totalDelta;
        int expected;
    } cases[] = {{63, 100, 37}, {1, 8, 88},    {2, 3, 33},          {1, 3, 67},
                 {0, 100, 100}, {150, 100, 0}, {0, UINT64_MAX, 100}};
    for (const auto& c : cases)
        EXPECT_EQ(kmb::loadPercent(c.idleDelta, c.totalDelta), c.expected) << c.idleDelta;
}

TEST(CpuLoad, TrackerTurnsSamplesIntoTexts)
{
    const QString dash = QStringLiteral("\u2014");
    kmb::CpuLoadTracker tracker;
    EXPECT_EQ(tracker.next(CpuTimes{1000, 800}), dash); // no earlier sample
    EXPECT_EQ(tracker.next(CpuTimes{1100, 863}), QStringLiteral("37%"));
    EXPECT_EQ(tracker.next(CpuTimes{1100, 863}), std::nullopt); // no time passed: keep
    // A CPU went offline: its ticks leave the sums. Restart from here, keep the text.
    EXPECT_EQ(tracker.next(CpuTimes{600, 500}), std::nullopt);
    EXPECT_EQ(tracker.next(CpuTimes{700, 500}), QStringLiteral("100%"));
    // Busy time falling while idle and total rise is a step backwards as well.
    EXPECT_EQ(tracker.next(CpuTimes{800, 650}), std::nullopt);
    EXPECT_EQ(tracker.next(std::nullopt), dash);
    EXPECT_EQ(tracker.next(CpuTimes{900, 700}), dash); // the baseline went with the failure
}
