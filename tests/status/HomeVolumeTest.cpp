// The home volume's figures, and its names following the home to another volume.

#include "status/HomeVolume.h"
#include "TestSupport.h"

#include <QStorageInfo>

TEST(HomeVolume, BytesSaturateAndNamesFollowTheHome)
{
    EXPECT_EQ(kmb::saturatedBytes(1ull << 51, 4096), INT64_MAX); // 2^63: past int64
    EXPECT_EQ(kmb::saturatedBytes(1ull << 52, 4096), INT64_MAX); // 2^64: wraps in 64 bits
    EXPECT_EQ(kmb::saturatedBytes((1ull << 51) - 1, 4096), INT64_MAX - 4095);
    const kmb::VolumeReading reading = kmb::homeVolumeReading({10, 20, 512, {"", "/home", ""}});
    EXPECT_EQ(reading.availableBytes, 5120);
    EXPECT_EQ(reading.totalBytes, 10240);
    EXPECT_EQ(reading.name, "home");

    // /proc is always a volume of its own.
    const kmb::test::FakeTree dir;
    const QString home = dir.path("home");
    const kmb::HomeVolumeReader reader(home, QStringLiteral("/proc"), QStringLiteral("/"));
    const QString mountPath = QStorageInfo(dir.root()).rootPath();
    ASSERT_NE(mountPath, "/proc");
    for (const QString& target : {dir.root(), QStringLiteral("/proc"), dir.root()}) {
        QFile::remove(home);
        ASSERT_TRUE(QFile::link(target, home));
        const std::optional<kmb::HomeVolumeStats> stats = reader.read();
        ASSERT_TRUE(stats.has_value());
        EXPECT_EQ(stats->names.mountPath,
                  target == dir.root() ? mountPath : QStringLiteral("/proc"));
    }
    QFile::remove(home);
    EXPECT_FALSE(reader.read().has_value());
}
