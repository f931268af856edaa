// A CPU temperature that could not be read is shown again at the very next read once its
// sensor gives a plausible value: sensors that read garbage for a while, and devices that
// vanish between passes and come back, must not leave "--°C" on screen for a minute.
#include "FakeSysTree.h"
#include "status/CpuTemperatureReader.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

TEST(TemperatureRecovery, EveryReadSearchesWhileNoSourceGivesAReading)
{
    const kmb::test::FakeSysTree sys;
    sys.writeDevice("class/hwmon/hwmon0", "name=coretemp;temp1_label=Package id 0;temp1_input=");
    sys.writeDevice("class/thermal/thermal_zone0", "type=x86_pkg_temp;temp=warm");
    const kmb::CpuTemperatureReader reader(sys.root());

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
        EXPECT_EQ(reader.readPackageCelsius(), step.celsius) << step.name;
    }
}

TEST(TemperatureRecovery, DevicesThatVanishAndComeBackAreReadAtOnce)
{
    const kmb::test::FakeSysTree sys;
    const QString device = QStringLiteral("class/hwmon/hwmon0");
    sys.writeDevice(device, "name=k10temp;temp1_label=Tctl;temp1_input=61000");
    const kmb::CpuTemperatureReader reader(sys.root());
    EXPECT_EQ(reader.readPackageCelsius(), 61);
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(QDir(sys.root() + u'/' + device).removeRecursively());
        EXPECT_EQ(reader.readPackageCelsius(), std::nullopt) << round;
        EXPECT_EQ(reader.readPackageCelsius(), std::nullopt) << round;
        sys.writeDevice(device, "name=k10temp;temp1_label=Tctl;temp1_input=62000");
        EXPECT_EQ(reader.readPackageCelsius(), 62) << round;
    }
}

} // namespace
