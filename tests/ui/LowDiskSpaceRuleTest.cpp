#include "menubar/LowDiskSpaceRule.h"
#include "menubar/DayRecordStore.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sys/stat.h>

using kmb::DayRecordStore;
using kmb::isLowDiskSpace;

namespace {

struct ThresholdCase {
    bool sampled;
    std::int64_t available;
    std::int64_t total;
    bool low;
};

class LowDiskThreshold : public ::testing::TestWithParam<ThresholdCase> {};

TEST_P(LowDiskThreshold, Boundaries)
{
    const ThresholdCase& c = GetParam();
    EXPECT_EQ(isLowDiskSpace(c.sampled, c.available, c.total), c.low)
        << "available " << c.available << " total " << c.total << " sampled " << c.sampled;
}

constexpr std::int64_t terabyte = 1'000'000'000'000;

INSTANTIATE_TEST_SUITE_P(Rule, LowDiskThreshold,
                         ::testing::Values(ThresholdCase{true, 49'999'999'999, terabyte, true},
                                           ThresholdCase{true, 50'000'000'000, terabyte, false},
                                           ThresholdCase{true, 1, terabyte, true},
                                           // A full disk is the case the warning exists for.
                                           ThresholdCase{true, 0, terabyte, true},
                                           // Nothing sampled yet: the zeros are placeholders.
                                           ThresholdCase{false, 0, 0, false},
                                           ThresholdCase{false, 1'000, terabyte, false},
                                           ThresholdCase{true, 1'000, 0, false},
                                           ThresholdCase{true, -1, terabyte, false},
                                           ThresholdCase{true, INT64_MAX, INT64_MAX, false}));

TEST(CurrentDayString, IsIsoDateInAsciiDigits)
{
    const QString day = kmb::currentDayString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$")).match(day).hasMatch())
        << day.toStdString();
}

// Restores TZ when the test ends.
struct TimeZoneGuard {
    QByteArray saved = qgetenv("TZ");
    bool had = qEnvironmentVariableIsSet("TZ");
    ~TimeZoneGuard()
    {
        if (had)
            qputenv("TZ", saved);
        else
            qunsetenv("TZ");
        tzset();
    }
};

TEST(CurrentDayString, FollowsATimeZoneChange)
{
    TimeZoneGuard guard;
    // UTC-14 and UTC+12 are 26 hours apart: always different calendar days.
    qputenv("TZ", "XXX-14");
    const QString east = kmb::currentDayString();
    qputenv("TZ", "YYY+12");
    const QString west = kmb::currentDayString();
    EXPECT_NE(east, west);
    EXPECT_LT(west, east);
}

TEST(DayRecordStore, RoundTripsThroughTheSettingsFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Korvanta/KorvantaMenuBar.conf"));
    {
        DayRecordStore store(path);
        EXPECT_FALSE(store.lastShownDay().has_value());
        EXPECT_TRUE(store.recordShownDay(QStringLiteral("2026-12-05")));
    }
    // A new process reads the day back from the file, under the key as written.
    DayRecordStore later(path);
    ASSERT_TRUE(later.lastShownDay().has_value());
    EXPECT_EQ(*later.lastShownDay(), QStringLiteral("2026-12-05"));
    QSettings raw(path, QSettings::IniFormat);
    EXPECT_EQ(raw.value(QStringLiteral("lowDiskSpacePrompt.lastShownDay")).toString(),
              QStringLiteral("2026-12-05"));
}

TEST(DayRecordStore, KeepsTheDayInMemoryWhenTheFileCannotHoldIt)
{
    QTemporaryDir dir;
    // A directory where the settings file should be.
    const QString path = dir.filePath(QStringLiteral("KorvantaMenuBar.conf"));
    ASSERT_TRUE(QDir().mkpath(path));
    DayRecordStore store(path);
    EXPECT_FALSE(store.recordShownDay(QStringLiteral("2026-12-06")));
    ASSERT_TRUE(store.lastShownDay().has_value());
    EXPECT_EQ(*store.lastShownDay(), QStringLiteral("2026-12-06"));
    EXPECT_TRUE(QFileInfo(path).isDir());
}

TEST(DayRecordStore, DoesNotBlockOnAFifo)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("KorvantaMenuBar.conf"));
    ASSERT_EQ(::mkfifo(path.toLocal8Bit().constData(), 0600), 0);
    DayRecordStore store(path);
    EXPECT_FALSE(store.lastShownDay().has_value());
    EXPECT_FALSE(store.recordShownDay(QStringLiteral("2026-12-06")));
    EXPECT_EQ(*store.lastShownDay(), QStringLiteral("2026-12-06"));
}

TEST(DayRecordStore, IgnoresANonStringValue)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("KorvantaMenuBar.conf"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[General]\nlowDiskSpacePrompt.lastShownDay=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\n");
    file.close();
    EXPECT_FALSE(DayRecordStore(path).lastShownDay().has_value());
}

} // namespace
