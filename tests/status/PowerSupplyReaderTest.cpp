// What a fake power_supply class directory reads as, in the texts the dashboard shows.

#include "status/PowerSupplyReader.h"
#include "TestSupport.h"

namespace {

using namespace std::chrono_literals;

// One entry of class/power_supply; absent attributes have no file.
struct Supply {
    const char* name = "BAT0";
    const char* type = "Battery";
    const char *scope = nullptr, *present = nullptr, *online = nullptr, *capacity = nullptr;
    const char *energyNow = nullptr, *energyFull = nullptr;
    const char *chargeNow = nullptr, *chargeFull = nullptr, *status = nullptr;
};

// "percent status", as the dashboard shows them.
QString textsOf(const std::vector<Supply>& supplies)
{
    const kmb::test::FakeTree sys;
    for (const Supply& s : supplies) {
        const QString dir = QStringLiteral("class/power_supply/") + s.name + u'/';
        const char* const files[] = {"type",        "scope",      "present",     "online",
                                     "capacity",    "energy_now", "energy_full", "charge_now",
                                     "charge_full", "status"};
        const char* const contents[] = {s.type,       s.scope,     s.present,    s.online,
                                        s.capacity,   s.energyNow, s.energyFull, s.chargeNow,
                                        s.chargeFull, s.status};
        for (int i = 0; i < 10; ++i) {
            if (contents[i])
                sys.write(dir + files[i], contents[i]);
        }
    }
    const kmb::BatteryTexts texts =
        kmb::batteryTexts(kmb::PowerSupplyReader(sys.root()).readFirstPowerSource());
    return texts.percentText + u' ' + texts.statusText;
}

// The first system battery by name, not a peripheral's, not an absent one; any Mains or USB
// supply online (1) means AC power.
TEST(PowerSupplyReader, WhichSupply)
{
    EXPECT_EQ(
        textsOf({{.name = "BAT1", .capacity = "10"},
                 {.name = "BAT0", .type = "Battery\n", .capacity = "77\n", .status = "Charging\n"},
                 {.name = "hid-0005", .scope = "Device", .capacity = "5"}}),
        "77% 充电中");
    EXPECT_EQ(textsOf({{.name = "BAT0", .present = "0"},
                       {.name = "BAT1", .present = "1", .capacity = "55"}}),
              "55% 电池供电");
    EXPECT_EQ(
        textsOf(
            {{.name = "ups", .type = "UPS", .scope = "System", .capacity = "100", .status = "Full"},
             {.name = "AC", .type = "Mains", .online = "1"}}),
        "100% 已充满");
    EXPECT_EQ(textsOf({{.name = "AC", .type = "Mains", .online = "0"},
                       {.name = "BAT0",
                        .energyNow = "29000",
                        .energyFull = "100000",
                        .status = "Not charging"},
                       {.name = "ucsi", .type = "USB", .online = "1"}}),
              "29% 已充满");
    EXPECT_EQ(textsOf({{.name = "AC", .type = "Mains", .online = "2"}, {}}), "0% 电池供电");
    EXPECT_EQ(textsOf({{.name = "hid", .scope = "Device"},
                       {.name = "AC", .type = "Mains", .online = "1"}}),
              "— 不可用");
    EXPECT_EQ(textsOf({}), "— 不可用");
}

// Capacity (0…100), else energy, else charge; a pair must be whole, within a kernel int, with
// full ≥ 1 and now at most twice full. The percentage truncates.
TEST(PowerSupplyReader, WhichReading)
{
    const auto percent = [](Supply battery) { return textsOf({battery}).section(u' ', 0, 0); };
    EXPECT_EQ(percent({.capacity = "0", .energyNow = "1", .energyFull = "2"}), "0%");
    EXPECT_EQ(percent({.capacity = "-20", .energyNow = "30", .energyFull = "60"}), "50%");
    EXPECT_EQ(percent({.capacity = "101", .chargeNow = "1", .chargeFull = "4"}), "25%");
    EXPECT_EQ(percent({.capacity = "??", .chargeNow = "2", .chargeFull = "3"}), "66%");
    EXPECT_EQ(percent({.energyNow = "-1", .energyFull = "5", .chargeNow = "3", .chargeFull = "4"}),
              "75%");
    EXPECT_EQ(percent({.energyNow = "30", .chargeNow = "3", .chargeFull = "4"}), "75%");
    EXPECT_EQ(percent({.energyNow = "5", .energyFull = "0"}), "0%");
    EXPECT_EQ(percent({.energyNow = "1", .energyFull = "2147483648"}), "0%");
    EXPECT_EQ(percent({.chargeNow = "2147483648", .chargeFull = "2147483647"}), "0%");
    EXPECT_EQ(percent({.chargeNow = "2147483647", .chargeFull = "2147483647"}), "100%");
    EXPECT_EQ(percent({.chargeNow = "6", .chargeFull = "3"}), "200%");
    EXPECT_EQ(percent({.chargeNow = "7", .chargeFull = "3"}), "0%");
    EXPECT_EQ(
        percent({.energyNow = "100", .energyFull = "1", .chargeNow = "40", .chargeFull = "80"}),
        "50%");
}

// Without a battery the directory is searched again only when it changes or after 28 s, so a
// battery that turns present in place is found within 28 s; once found, it is read every call.
TEST(PowerSupplyReader, WithoutABatterySearchesOnlyWhenDue)
{
    const kmb::test::FakeTree sys;
    sys.writeDevice(QStringLiteral("class/power_supply/BAT0"),
                    {{"type", "Battery"}, {"present", "0"}, {"capacity", "80"}});
    std::chrono::steady_clock::time_point now{};
    const kmb::PowerSupplyReader reader(sys.root(), [&] { return now; });
    EXPECT_EQ(reader.readFirstPowerSource(), std::nullopt);
    sys.write(QStringLiteral("class/power_supply/BAT0/present"), "1");
    now += 27s;
    EXPECT_EQ(reader.readFirstPowerSource(), std::nullopt) << "searched before it was due";
    now += 1s;
    ASSERT_NE(reader.readFirstPowerSource(), std::nullopt);
    sys.write(QStringLiteral("class/power_supply/BAT0/capacity"), "79");
    EXPECT_EQ(reader.readFirstPowerSource()->currentCapacity, 79);
}

} // namespace
