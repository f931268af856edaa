#include "FakeSysTree.h"
#include "status/PowerSupplyReader.h"

#include <gtest/gtest.h>
#include <vector>

using kmb::PowerSourceDescription;

TEST(Battery, PercentIsExactIntegerArithmetic)
{
    const struct {
        std::int64_t current, max, expected;
    } cases[] = {{29, 100, 29},
                 {57, 100, 57},
                 {4000, 5000, 80},
                 {2, 3, 66},
                 {105, 100, 105},
                 {80, 0, 0},
                 {-50, 100, -50},
                 {INT64_MAX, 1, INT64_MAX},
                 {INT64_MAX, INT64_MAX, 100}};
    for (const auto& c : cases)
        EXPECT_EQ(kmb::batteryPercent(c.current, c.max), c.expected) << c.current << "/" << c.max;
}

TEST(Battery, TextsFollowTheStatusOrder)
{
    const struct {
        PowerSourceDescription source;
        const char* percent;
        const char* status;
    } cases[] = {
        {{80, 100, true, "AC Power"}, "80%", "充电中"},
        {{80, 100, false, "AC Power"}, "80%", "已充满"},
        {{80, 100, false, "Battery Power"}, "80%", "电池供电"},
        {{80, std::nullopt, false, ""}, "0%", "电池供电"},
    };
    for (const auto& c : cases) {
        const kmb::BatteryTexts texts = kmb::batteryTexts(c.source);
        EXPECT_EQ(texts.percentText, QString::fromUtf8(c.percent));
        EXPECT_EQ(texts.statusText, QString::fromUtf8(c.status)) << c.percent;
    }
}

TEST(Battery, FirstSystemBatteryOfTheTree)
{
    using Supplies = std::vector<std::pair<const char*, const char*>>;
    const struct {
        const char* name;
        Supplies supplies;   // entry of class/power_supply, attributes
        const char* percent; // nullptr: no battery
        const char* status;
    } cases[] = {
        {"mouse skipped, first by name, charging",
         {{"BAT1", "type=Battery;capacity=10"},
          {"BAT0", "type=Battery\n;capacity=77\n;status=Charging\n"},
          {"hid-0005", "type=Battery;scope=Device"}},
         "77%",
         "充电中"},
        {"absent battery skipped",
         {{"BAT0", "type=Battery;present=0"}, {"BAT1", "type=Battery;present=1;capacity=55"}},
         "55%",
         "电池供电"},
        {"UPS on mains",
         {{"ups", "type=UPS;scope=System;capacity=100;status=Full"}, {"AC", "type=Mains;online=1"}},
         "100%",
         "已充满"},
        {"energy pair, USB-C charger online but not charging",
         {{"BAT0", "type=Battery;energy_now=29000;energy_full=100000;status=Not charging"},
          {"ucsi", "type=USB;online=1"},
          {"AC", "type=Mains;online=0"}},
         "29%",
         "已充满"},
        {"charge pair when capacity is garbage",
         {{"BAT0", "type=Battery;capacity=??;charge_now=2;charge_full=3;status=Discharging"}},
         "66%",
         "电池供电"},
        {"no usable reading",
         {{"BAT0", "type=Battery;energy_now=5000;energy_full=x"}},
         "0%",
         "电池供电"},
    };
    for (const auto& c : cases) {
        const kmb::test::FakeSysTree sys;
        for (const auto& [entry, attributes] : c.supplies)
            sys.writeDevice(QStringLiteral("class/power_supply/") + entry, attributes);
        const std::optional<PowerSourceDescription> source =
            kmb::PowerSupplyReader(sys.root()).readFirstPowerSource();
        ASSERT_EQ(source.has_value(), c.percent != nullptr) << c.name;
        if (!source)
            continue;
        const kmb::BatteryTexts texts = kmb::batteryTexts(source);
        EXPECT_EQ(texts.percentText, QString::fromUtf8(c.percent)) << c.name;
        EXPECT_EQ(texts.statusText, QString::fromUtf8(c.status)) << c.name;
    }
}
