#include "FakeSysTree.h"
#include "status/BatterySampling.h"
#include "status/PowerSupplyReader.h"

#include <gtest/gtest.h>

namespace {

// Attribute values that no kernel reports (power_supply values are 32-bit ints, capacity is
// 0…100) must not reach the dashboard as a percentage such as -20% or 9223372036854775807%.
TEST(PowerSupplyPlausibility, ImpossibleReadingsFallThroughToTheNextSource)
{
    const struct {
        const char* name;
        const char* attributes; // of class/power_supply/BAT0, besides type=Battery
        const char* percent;
    } cases[] = {
        {"capacity in range", "capacity=57", "57%"},
        {"capacity 0 and 100 are real", "capacity=0;energy_now=1;energy_full=2", "0%"},
        {"full", "capacity=100", "100%"},
        {"negative capacity, energy pair used", "capacity=-20;energy_now=30;energy_full=60",
         "50%"},
        {"capacity above 100, charge pair used", "capacity=101;charge_now=1;charge_full=4",
         "25%"},
        {"capacity beyond 64 bits, nothing else", "capacity=99999999999999999999", "0%"},
        {"negative energy_now, charge pair used",
         "energy_now=-5000;energy_full=50000;charge_now=3;charge_full=4", "75%"},
        {"energy_now beyond a kernel int", "energy_now=9223372036854775807;energy_full=1", "0%"},
        {"energy_full 0", "energy_now=5;energy_full=0", "0%"},
        {"negative energy_full", "energy_now=5;energy_full=-10", "0%"},
        {"now more than twice full", "charge_now=2147483647;charge_full=3", "0%"},
        {"now exactly twice full", "charge_now=6;charge_full=3", "200%"},
        {"a worn battery a little above full", "energy_now=52500000;energy_full=50000000",
         "105%"},
        {"largest kernel values", "energy_now=2147483647;energy_full=2147483647", "100%"},
        {"first implausible pair skipped for the second",
         "energy_now=100;energy_full=1;charge_now=40;charge_full=80", "50%"},
    };
    for (const auto& c : cases) {
        const kmb::test::FakeSysTree sys;
        sys.writeDevice(QStringLiteral("class/power_supply/BAT0"),
                        QStringLiteral("type=Battery;") + QString::fromUtf8(c.attributes));
        const std::optional<kmb::PowerSourceDescription> source =
            kmb::PowerSupplyReader(sys.root()).readFirstPowerSource();
        ASSERT_TRUE(source.has_value()) << c.name;
        EXPECT_EQ(kmb::batteryTexts(source).percentText, QString::fromUtf8(c.percent)) << c.name;
    }
}

TEST(PowerSupplyPlausibility, PairsAreKeptOrDroppedWhole)
{
    kmb::BatteryCharge read;
    read.capacityPercent = 250;
    read.energyNow = 10;
    read.energyFull = -1;
    read.chargeNow = 4;
    read.chargeFull = 5;
    const kmb::BatteryCharge kept = kmb::plausibleCharge(read);
    EXPECT_FALSE(kept.capacityPercent);
    EXPECT_FALSE(kept.energyNow);
    EXPECT_FALSE(kept.energyFull);
    EXPECT_EQ(kept.chargeNow, 4);
    EXPECT_EQ(kept.chargeFull, 5);
}

} // namespace
