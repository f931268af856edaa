// The CPU load text between passes, from /proc/stat's aggregate line.

#include "status/CpuLoadSampling.h"

#include <gtest/gtest.h>

// Guest time is already in user and nice; iowait counts as idle, steal as busy.
TEST(CpuLoadSampling, TextBetweenPasses)
{
    kmb::CpuLoadTracker tracker;
    const struct {
        QByteArray stat;
        std::optional<QString> text; // none: keep the text shown
    } passes[] = {
        {"intr 1 2\ncpu  200 0 0 800 0 0 0 0 90 100\ncpu0 1 1 1 1\n", "—"}, // no earlier pass
        {"cpu  237 0 0 863 0 0 0 0 95 100\n", "37%"},
        {"cpu  237 0 0 863 0 0 0 0 95 100\n", std::nullopt}, // no time passed
        {"cpu  100 0 0 500\n", std::nullopt}, // a CPU went offline: counters went backwards
        {"cpu  200 0 0 500 0 0 0 0\n", "100%"},
        {"cpu  150 0 0 650\n", std::nullopt}, // busy time fell while the total rose
        {"cpu  1 2 3\n", "—"},                // unreadable: the baseline goes too
        {"cpu  160 0 0 740\n", "—"},
        {"cpu  166 0 0 741 1 1 0 0\n", "78%"}, // 7 of 9 busy, rounded to nearest
        {"cpu\t166 0 0 791 1 1 0 50\n", "50%"},
        {"cpu  18446744073709551615 1 0 0\n", "—"},
        {"cpu0 1 2 3 4 5 6 7 8\n", "—"},
    };
    for (const auto& pass : passes)
        EXPECT_EQ(tracker.next(kmb::parseCpuStat(pass.stat)), pass.text) << pass.stat.toStdString();
    EXPECT_EQ(kmb::loadPercent(1, 8), 88); // halves up
    EXPECT_EQ(kmb::loadPercent(150, 100), 0);
    EXPECT_EQ(kmb::loadPercent(0, UINT64_MAX), 100);
}
