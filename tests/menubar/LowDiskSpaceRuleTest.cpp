// What counts as low free space, and the day the once-a-day prompt counts by.

#include "menubar/LowDiskSpaceRule.h"

#include <gtest/gtest.h>

using namespace kmb;

TEST(LowDiskSpaceRule, BelowFiftyDecimalGigabytes)
{
    constexpr std::int64_t terabyte = 1'000'000'000'000;
    // A full disk is what the warning is for; before any sample the zeros are placeholders.
    const struct {
        bool sampled;
        std::int64_t available, total;
        bool low;
    } cases[] = {{true, 49'999'999'999, terabyte, true},
                 {true, 50'000'000'000, terabyte, false},
                 {false, 1'000, terabyte, false},
                 {true, 1'000, 0, false},
                 {true, -1, terabyte, false},
                 {true, 0, 1, true}};
    for (const auto& c : cases)
        EXPECT_EQ(isLowDiskSpace(c.sampled, c.available, c.total), c.low)
            << c.sampled << " " << c.available << " of " << c.total;
}

TEST(LowDiskSpaceRule, TheLocalDayInTheRecordsFormat)
{
    EXPECT_EQ(dayString(QDate(2026, 1, 5)), "2026-01-05");
    EXPECT_EQ(dayString(QDate(987, 12, 31)), "0987-12-31");
    // UTC+14 and UTC-12 are 26 hours apart: always one or two days apart.
    const std::optional<QByteArray> saved =
        qEnvironmentVariableIsSet("TZ") ? std::optional(qgetenv("TZ")) : std::nullopt;
    qputenv("TZ", "XXX-14");
    const QDate east = QDate::fromString(currentDayString(), "yyyy-MM-dd");
    qputenv("TZ", "YYY+12");
    const QDate west = QDate::fromString(currentDayString(), "yyyy-MM-dd");
    saved ? qputenv("TZ", *saved) : qunsetenv("TZ");
    EXPECT_TRUE(west.daysTo(east) == 1 || west.daysTo(east) == 2) << west.daysTo(east);
}
