#include "status/HomeVolume.h"
#include "FakeSysTree.h"

#include <QStorageInfo>
#include <gtest/gtest.h>

TEST(HomeVolume, BytesSaturateAndNameFallsBack)
{
    EXPECT_EQ(kmb::saturatedBytes(1000, 4096), 4'096'000);
    EXPECT_EQ(kmb::saturatedBytes(1ull << 52, 4096), INT64_MAX); // 2^64 wraps in 64 bits
    EXPECT_EQ(kmb::saturatedBytes(1ull << 51, 4096), INT64_MAX); // 2^63 is past int64

    kmb::HomeVolumeStats stats{10, 20, 512, QStringLiteral("data"), QStringLiteral("/home")};
    const kmb::VolumeReading reading = kmb::homeVolumeReading(stats);
    EXPECT_EQ(reading.name, QStringLiteral("data"));
    EXPECT_EQ(reading.availableBytes, 5120);
    EXPECT_EQ(reading.totalBytes, 10240);
    stats.label.clear();
    EXPECT_EQ(kmb::homeVolumeReading(stats).name, QStringLiteral("/home"));
}

TEST(HomeVolume, ReadsTheVolumeHoldingTheDirectory)
{
    const kmb::test::FakeSysTree home;
    const std::optional<kmb::HomeVolumeStats> stats = kmb::HomeVolumeReader(home.root()).read();
    ASSERT_TRUE(stats.has_value());
    EXPECT_EQ(stats->mountPath, QStorageInfo(home.root()).rootPath());
    EXPECT_GT(kmb::homeVolumeReading(*stats).totalBytes, 0);
    EXPECT_FALSE(kmb::HomeVolumeReader(home.root() + "/gone").read().has_value());
}
