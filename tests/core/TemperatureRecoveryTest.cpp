// A CPU temperature that could not be read is shown again once its sensor gives a plausible
// value: sensors that read garbage for a while, and devices that vanish between passes and
// come back, must not leave "--°C" on screen longer than the rediscovery gate allows.
#include "FakeSysTree.h"
#include "status/CpuTemperatureReader.h"

#include <QDir>
#include <QFile>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using Clock = std::chrono::steady_clock;

TEST(TemperatureRecovery, EachDueSearchFindsTheSourceThatReadsAgain)
{
    const kmb::test::FakeSysTree sys;
    sys.writeDevice("class/hwmon/hwmon0", "name=coretemp;temp1_label=Package id 0;temp1_input=");
    sys.writeDevice("class/thermal/thermal_zone0", "type=x86_pkg_temp;temp=warm");
    Clock::time_point now{};
    const kmb::CpuTemperatureReader reader(sys.root(), [&] { return now; });

    const struct {
        const char* name;
        const char* file;
        const char* value;
        std::optional<int> celsius;
    } steps[] = {
        {"both sources empty or garbage", nullptr, nullptr, std::nullopt},
        {"the zone reads again", "class/thermal/thermal_zone0/temp", "52000", 52},
        {"the zone absurd", "class/thermal/thermal_zone0/temp", "1000000000", std::nullopt},
        {"the package sensor reads", "class/hwmon/hwmon0/temp1_input", "47000", 47},
        {"the package sensor absurd", "class/hwmon/hwmon0/temp1_input", "-273150", std::nullopt},
        {"the zone back, the package still absurd", "class/thermal/thermal_zone0/temp", "53000",
         53},
        {"the zone absurd again, the package still absurd", "class/thermal/thermal_zone0/temp",
         "-100000", std::nullopt},
        {"the package back", "class/hwmon/hwmon0/temp1_input", "48000", 48},
    };
    for (const auto& step : steps) {
        if (step.file)
            sys.write(QString::fromLatin1(step.file), step.value);
        // Files rewritten in place leave the directories as they were: only time makes the
        // search due while no source is in use.
        now += kmb::RediscoveryGate::kSearchAgainAfter;
        EXPECT_EQ(reader.readPackageCelsius(), step.celsius) << step.name;
    }
}

// What the kernel does to a class directory when it adds a device, made visible at once
// whatever the granularity of the file system's times.
void markChanged(const QString& dir, int second)
{
    const timespec times[2] = {{second, 0}, {second, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(dir).constData(), times, 0), 0);
}

TEST(TemperatureRecovery, DevicesThatVanishAndComeBackAreReadAtOnce)
{
    const kmb::test::FakeSysTree sys;
    const QString device = QStringLiteral("class/hwmon/hwmon0");
    sys.writeDevice(device, "name=k10temp;temp1_label=Tctl;temp1_input=61000");
    const kmb::CpuTemperatureReader reader(sys.root(), [] { return Clock::time_point{}; });
    EXPECT_EQ(reader.readPackageCelsius(), 61);
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(QDir(sys.root() + u'/' + device).removeRecursively());
        EXPECT_EQ(reader.readPackageCelsius(), std::nullopt) << round;
        EXPECT_EQ(reader.readPackageCelsius(), std::nullopt) << round;
        sys.writeDevice(device, "name=k10temp;temp1_label=Tctl;temp1_input=62000");
        markChanged(sys.root() + "/class/hwmon", 1000 + round);
        EXPECT_EQ(reader.readPackageCelsius(), 62) << round;
    }
}

} // namespace
