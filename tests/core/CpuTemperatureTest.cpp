#include "FakeSysTree.h"
#include "status/CpuTemperatureReader.h"

#include <gtest/gtest.h>
#include <vector>

TEST(CpuTemperature, RoundsMillidegreesAndRejectsAbsurdValues)
{
    EXPECT_EQ(kmb::celsiusFromMillidegrees(47'499), 47);
    EXPECT_EQ(kmb::celsiusFromMillidegrees(47'500), 48);
    EXPECT_EQ(kmb::celsiusFromMillidegrees(-1'500), -2);
    EXPECT_EQ(kmb::celsiusFromMillidegrees(150'000), 150);
    EXPECT_EQ(kmb::celsiusFromMillidegrees(150'001), std::nullopt);
    EXPECT_EQ(kmb::celsiusFromMillidegrees(-40'001), std::nullopt);
    EXPECT_EQ(kmb::cpuTemperatureText(47), QStringLiteral("47°C"));
}

TEST(CpuTemperature, SourcesInOrder)
{
    using Devices = std::vector<std::pair<const char*, const char*>>;
    const struct {
        const char* name;
        Devices devices; // directory under class/, attributes
        const char* expected;
    } cases[] = {
        {"coretemp package over hotter cores",
         {{"hwmon/hwmon0", "name=coretemp\n;temp1_label=Package id 0\n;temp1_input=51500\n;"
                           "temp2_label=Core 0;temp2_input=70000"}},
         "52°C"},
        {"coretemp without package: hottest plausible core",
         {{"hwmon/hwmon0", "name=coretemp;temp2_label=Core 0;temp2_input=44000;"
                           "temp3_label=Core 1;temp3_input=49000;temp4_input=255000"}},
         "49°C"},
        {"k10temp Tdie over Tctl; Tccd ignored",
         {{"hwmon/hwmon3",
           "name=k10temp;temp1_label=Tctl;temp1_input=70000;"
           "temp2_label=Tdie;temp2_input=43000;temp3_label=Tccd1;temp3_input=90000"}},
         "43°C"},
        {"coretemp before k10temp and zones, whatever the numbers",
         {{"hwmon/hwmon1", "name=k10temp;temp1_label=Tctl;temp1_input=61000"},
          {"hwmon/hwmon7", "name=coretemp;temp1_label=Package id 0;temp1_input=40000"},
          {"thermal/thermal_zone0", "type=x86_pkg_temp;temp=80000"}},
         "40°C"},
        {"same kind by number: hwmon2 before hwmon10",
         {{"hwmon/hwmon10", "name=cpu_thermal;temp1_input=30000"},
          {"hwmon/hwmon2", "name=cpu-thermal;temp1_input=35000"}},
         "35°C"},
        {"acpitz and unknown zones never count",
         {{"hwmon/hwmon0", "name=acpitz;temp1_input=27800"},
          {"thermal/thermal_zone0", "type=acpitz;temp=27800"},
          {"thermal/thermal_zone1", "type=iwlwifi_1;temp=33000"}},
         "--°C"},
        {"x86_pkg_temp zone after acpitz",
         {{"thermal/thermal_zone0", "type=acpitz;temp=27800"},
          {"thermal/thermal_zone2", "type=x86_pkg_temp;temp=56000"}},
         "56°C"},
        {"absurd package value",
         {{"hwmon/hwmon0", "name=coretemp;temp1_label=Package id 0;temp1_input=-273000"}},
         "--°C"},
        {"non-numeric zone value",
         {{"thermal/thermal_zone0", "type=cpu-thermal;temp=hot"}},
         "--°C"},
        {"a broken source gives way to the next",
         {{"hwmon/hwmon0", "name=k10temp;temp1_label=Tdie;temp1_input="},
          {"thermal/thermal_zone0", "type=cpu_thermal;temp=38000"}},
         "38°C"},
    };
    for (const auto& c : cases) {
        const kmb::test::FakeSysTree sys;
        for (const auto& [dir, attributes] : c.devices)
            sys.writeDevice(QStringLiteral("class/") + dir, attributes);
        const std::optional<int> celsius =
            kmb::CpuTemperatureReader(sys.root()).readPackageCelsius();
        EXPECT_EQ(kmb::cpuTemperatureText(celsius), QString::fromUtf8(c.expected)) << c.name;
    }
}
