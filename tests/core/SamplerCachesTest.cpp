// What the samplers keep from one pass to the next must never hide a change: the home
// volume's names follow the home to another volume, and a temperature sensor that goes away
// or appears later is noticed.
#include "FakeSysTree.h"
#include "ThreadIo.h"
#include "status/CpuTemperatureReader.h"
#include "status/HomeVolume.h"

#include <QDir>
#include <QFile>
#include <QStorageInfo>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <unistd.h>

namespace {

void pointLink(const QString& link, const QString& target)
{
    QFile::remove(link);
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()),
              0);
}

TEST(HomeVolumeNames, FollowTheHomeToAnotherVolume)
{
    const kmb::test::FakeSysTree dir;
    const QString home = dir.root() + QStringLiteral("/home");
    pointLink(home, dir.root());
    const kmb::HomeVolumeReader reader(home);
    const std::optional<kmb::HomeVolumeStats> first = reader.read();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->mountPath, QStorageInfo(dir.root()).rootPath());

    // /proc is always a volume of its own.
    ASSERT_NE(QStorageInfo(dir.root()).rootPath(), QStringLiteral("/proc"));
    pointLink(home, QStringLiteral("/proc"));
    const std::optional<kmb::HomeVolumeStats> moved = reader.read();
    ASSERT_TRUE(moved.has_value());
    EXPECT_EQ(moved->mountPath, QStringLiteral("/proc"));

    pointLink(home, dir.root());
    EXPECT_EQ(reader.read()->mountPath, first->mountPath);
}

TEST(HomeVolumeNames, MountTableIsNotReadAgainForTheSameVolume)
{
    if (!kmb::test::bytesReadByThisThread())
        GTEST_SKIP() << "/proc/thread-self/io is not available here";
    const kmb::test::FakeSysTree home;
    const kmb::HomeVolumeReader reader(home.root());
    // Reading the counter counts too: measure that first.
    auto bytesReadBy = [](const std::function<void()>& action) {
        const std::uint64_t before = *kmb::test::bytesReadByThisThread();
        action();
        return *kmb::test::bytesReadByThisThread() - before;
    };
    const std::uint64_t counterItself = bytesReadBy([] {});
    std::optional<kmb::HomeVolumeStats> stats;
    const std::uint64_t first = bytesReadBy([&] { stats = reader.read(); });
    ASSERT_TRUE(stats.has_value());
    EXPECT_GT(first, counterItself + 256) << "the first read looks at the mount table";
    const std::uint64_t second = bytesReadBy([&] { stats = reader.read(); });
    ASSERT_TRUE(stats.has_value());
    EXPECT_LT(second, counterItself + 64) << "the mount table was parsed again";
    EXPECT_EQ(stats->mountPath, QStorageInfo(home.root()).rootPath());
}

TEST(TemperatureSource, VanishedSensorIsReplacedInTheSameRead)
{
    const kmb::test::FakeSysTree sys;
    sys.writeDevice("class/hwmon/hwmon3",
                    "name=coretemp;temp1_label=Package id 0;temp1_input=50000");
    sys.writeDevice("class/thermal/thermal_zone0", "type=x86_pkg_temp;temp=61000");
    const kmb::CpuTemperatureReader reader(sys.root());
    EXPECT_EQ(reader.readPackageCelsius(), 50);
    sys.write("class/hwmon/hwmon3/temp1_input", "52000");
    EXPECT_EQ(reader.readPackageCelsius(), 52) << "each read reads the sensor";

    ASSERT_TRUE(QDir(sys.root() + "/class/hwmon/hwmon3").removeRecursively());
    EXPECT_EQ(reader.readPackageCelsius(), 61);

    // A driver reload that renumbers the device.
    sys.writeDevice("class/hwmon/hwmon7",
                    "name=coretemp;temp1_label=Package id 0;temp1_input=45000");
    ASSERT_TRUE(QDir(sys.root() + "/class/thermal/thermal_zone0").removeRecursively());
    EXPECT_EQ(reader.readPackageCelsius(), 45);
}

TEST(TemperatureSource, SensorAppearingLaterIsFoundWithinTheRediscoveryInterval)
{
    const kmb::test::FakeSysTree sys;
    const kmb::CpuTemperatureReader reader(sys.root());
    EXPECT_EQ(reader.readPackageCelsius(), std::nullopt);
    sys.writeDevice("class/hwmon/hwmon0", "name=k10temp;temp1_label=Tctl;temp1_input=47000");
    std::optional<int> celsius;
    int reads = 0;
    while (!celsius && reads <= kmb::CpuTemperatureReader::kRediscoverAfterReads) {
        celsius = reader.readPackageCelsius();
        ++reads;
    }
    EXPECT_EQ(celsius, 47);

    // A source earlier in the order that comes later replaces the one in use.
    sys.writeDevice("class/hwmon/hwmon1",
                    "name=coretemp;temp1_label=Package id 0;temp1_input=39000");
    for (int read = 0; read <= kmb::CpuTemperatureReader::kRediscoverAfterReads; ++read)
        celsius = reader.readPackageCelsius();
    EXPECT_EQ(celsius, 39);
}

} // namespace
