// What a fake power_supply class directory reads as, in the texts the dashboard shows.

#include "status/PowerSupplyReader.h"
#include "TestSupport.h"

namespace {

using namespace std::chrono_literals;

// One entry of class/power_supply: its attribute files, "type" being "Battery" unless given.
struct Supply {
    const char* name = "BAT0";
    std::vector<std::pair<const char*, const char*>> files;
};

// "percent status", as the dashboard shows them.
QString textsOf(const std::vector<Supply>& supplies)
{
    const kmb::test::FakeTree sys;
    for (const Supply& supply : supplies) {
        const QString dir = QStringLiteral("class/power_supply/") + supply.name + u'/';
        sys.write(dir + "type", "Battery");
        for (const auto& [file, content] : supply.files)
            sys.write(dir + file, content);
    }
    const kmb::BatteryTexts texts =
        kmb::batteryTexts(kmb::PowerSupplyReader(sys.root()).readFirstPowerSource());
    return texts.percentText + u' ' + texts.statusText;
}

// The first system battery by name, not a peripheral's, not an absent one; any Mains or USB
// supply online (1) means AC power.
TEST(PowerSupplyReader, WhichSupply)
{
    const Supply mainsOn{"AC", {{"type", "Mains"}, {"online", "1"}}};
    const struct {
        std::vector<Supply> supplies;
        const char* texts;
    } rows[] = {
        {{{"BAT1", {{"capacity", "10"}}},
          {"BAT0", {{"type", "Battery\n"}, {"capacity", "77\n"}, {"status", "Charging\n"}}},
          {"hid-0005", {{"scope", "Device"}, {"capacity", "5"}}}},
         "77% 充电中"},
        {{{"BAT0", {{"present", "0"}}}, {"BAT1", {{"present", "1"}, {"capacity", "55"}}}},
         "55% 电池供电"},
        {{{"ups", {{"type", "UPS"}, {"scope", "System"}, {"capacity", "100"}, {"status", "Full"}}},
          mainsOn},
         "100% 已充满"},
        {{{"AC", {{"type", "Mains"}, {"online", "0"}}},
          {"BAT0",
           {{"energy_now", "29000"}, {"energy_full", "100000"}, {"status", "Not charging"}}},
          {"ucsi", {{"type", "USB"}, {"online", "1"}}}},
         "29% 已充满"},
        {{{"AC", {{"type", "Mains"}, {"online", "2"}}}, {}}, "0% 电池供电"},
        {{{"hid", {{"scope", "Device"}}}, mainsOn}, "— 不可用"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(textsOf(row.supplies), row.texts) << row.texts;
}

// Capacity (0…100), else energy, else charge; a pair must be whole, within a kernel int, with
// full ≥ 1 and now at most twice full. The percentage truncates.
TEST(PowerSupplyReader, WhichReading)
{
    const struct {
        std::vector<std::pair<const char*, const char*>> files;
        const char* percent;
    } rows[] = {
        {{{"capacity", "0"}, {"energy_now", "1"}, {"energy_full", "2"}}, "0%"},
        {{{"capacity", "-20"}, {"energy_now", "30"}, {"energy_full", "60"}}, "50%"},
        {{{"capacity", "101"}, {"charge_now", "1"}, {"charge_full", "4"}}, "25%"},
        {{{"capacity", "??"}, {"charge_now", "2"}, {"charge_full", "3"}}, "66%"},
        {{{"energy_now", "-1"}, {"energy_full", "5"}, {"charge_now", "3"}, {"charge_full", "4"}},
         "75%"},
        {{{"energy_now", "5"}, {"energy_full", "0"}}, "0%"},
        {{{"energy_now", "1"}, {"energy_full", "2147483648"}}, "0%"},
        {{{"charge_now", "2147483648"}, {"charge_full", "2147483647"}}, "0%"},
        {{{"charge_now", "2147483647"}, {"charge_full", "2147483647"}}, "100%"},
        {{{"charge_now", "6"}, {"charge_full", "3"}}, "200%"},
        {{{"charge_now", "7"}, {"charge_full", "3"}}, "0%"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(textsOf({{"BAT0", row.files}}).section(u' ', 0, 0), row.percent)
            << row.files.front().first << "=" << row.files.front().second;
}

// Without a battery the directory is searched again only when the gate says so; once found, the
// battery is read every call.
TEST(PowerSupplyReader, WithoutABatterySearchesOnlyWhenDue)
{
    const kmb::test::FakeTree sys;
    const QString bat0 = QStringLiteral("class/power_supply/BAT0/");
    sys.write(bat0 + "type", "Battery");
    sys.write(bat0 + "present", "0");
    std::chrono::steady_clock::time_point now{};
    const kmb::PowerSupplyReader reader(sys.root(), [&] { return now; });
    EXPECT_EQ(reader.readFirstPowerSource(), std::nullopt);
    sys.write(bat0 + "present", "1");
    EXPECT_EQ(reader.readFirstPowerSource(), std::nullopt) << "searched before it was due";
    now += 28s;
    sys.write(bat0 + "capacity", "80");
    EXPECT_EQ(reader.readFirstPowerSource().value().currentCapacity, 80);
    sys.write(bat0 + "capacity", "79"); // no search needed: it is read every call
    EXPECT_EQ(reader.readFirstPowerSource().value().currentCapacity, 79);
}

} // namespace
