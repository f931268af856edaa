// The samplers over fake /proc and /sys trees, through LinuxStatusSampler and the readers.

#include "TestSupport.h"
#include "status/LinuxStatusSampler.h"

#include <QStorageInfo>

namespace {

using kmb::test::FakeTree;

// "BAT0: type=Battery;capacity=7 | AC: type=Mains;online=1" plants two devices under `base`.
void plant(const FakeTree& tree, const QString& base, const QString& devices)
{
    for (const QString& device : devices.split(QStringLiteral(" | "), Qt::SkipEmptyParts)) {
        const qsizetype colon = device.indexOf(QStringLiteral(": "));
        tree.writeDevice(base + device.first(colon), device.sliced(colon + 2));
    }
}

kmb::LinuxStatusSampler samplerOf(const FakeTree& tree, const QString& home = {})
{
    return kmb::LinuxStatusSampler({tree.root(), tree.root(), home, QString()});
}

TEST(Samplers, BatteryOfAFakeTree)
{
    const std::pair<const char*, const char*> cases[] = {
        // Which supply: the first system battery by name, not a peripheral's, not an absent
        // one; any Mains or USB supply online means AC power.
        {"BAT1: type=Battery;capacity=10 | BAT0: type=Battery\n;capacity=77\n;status=Charging\n"
         " | hid-0005: type=Battery;scope=Device",
         "77% 充电中"},
        {"BAT0: type=Battery;present=0 | BAT1: type=Battery;present=1;capacity=55", "55% 电池供电"},
        {"ups: type=UPS;scope=System;capacity=100;status=Full | AC: type=Mains;online=1",
         "100% 已充满"},
        {"BAT0: type=Battery;energy_now=29000;energy_full=100000;status=Not charging | ucsi: "
         "type=USB;online=1 | AC: type=Mains;online=0",
         "29% 已充满"},
        {"hid: type=Battery;scope=Device | AC: type=Mains;online=1", "— 不可用"},
        {"", "— 不可用"},
        // Which reading: capacity (0…100), else energy, else charge; a pair must be whole,
        // within a kernel int, with full ≥ 1 and now at most twice full. Percent truncates.
        {"BAT0: type=Battery;capacity=0;energy_now=1;energy_full=2", "0% 电池供电"},
        {"BAT0: type=Battery;capacity=-20;energy_now=30;energy_full=60", "50% 电池供电"},
        {"BAT0: type=Battery;capacity=101;charge_now=1;charge_full=4", "25% 电池供电"},
        {"BAT0: type=Battery;capacity=??;charge_now=2;charge_full=3", "66% 电池供电"},
        {"BAT0: type=Battery;energy_now=-5000;energy_full=50000;charge_now=3;charge_full=4",
         "75% 电池供电"},
        {"BAT0: type=Battery;energy_now=9223372036854775807;energy_full=1", "0% 电池供电"},
        {"BAT0: type=Battery;energy_now=5;energy_full=0", "0% 电池供电"},
        {"BAT0: type=Battery;charge_now=2147483647;charge_full=3", "0% 电池供电"},
        {"BAT0: type=Battery;charge_now=6;charge_full=3", "200% 电池供电"},
        {"BAT0: type=Battery;energy_now=52500000;energy_full=50000000", "105% 电池供电"},
        {"BAT0: type=Battery;energy_now=2147483647;energy_full=2147483647", "100% 电池供电"},
        {"BAT0: type=Battery;energy_now=100;energy_full=1;charge_now=40;charge_full=80",
         "50% 电池供电"}};
    for (const auto& [devices, expected] : cases) {
        const FakeTree sys;
        plant(sys, QStringLiteral("class/power_supply/"), QString::fromUtf8(devices));
        const kmb::BatteryTexts texts = samplerOf(sys).readBatteryTexts();
        EXPECT_EQ(texts.percentText + u' ' + texts.statusText, QString::fromUtf8(expected))
            << devices;
    }
    // Exact integer arithmetic, toward zero, saturating.
    EXPECT_EQ(kmb::batteryPercent(-50, 100), -50);
    EXPECT_EQ(kmb::batteryPercent(INT64_MAX, 1), INT64_MAX);
    EXPECT_EQ(kmb::batteryPercent(INT64_MAX, INT64_MAX), 100);
}

TEST(Samplers, TemperatureOfAFakeTree)
{
    const std::pair<const char*, const char*> cases[] = {
        // coretemp's package input over hotter cores, else its hottest plausible core.
        {"hwmon/hwmon0: name=coretemp\n;temp1_label=Package id 0\n;temp1_input=51500\n;"
         "temp2_label=Core 0;temp2_input=70000",
         "52°C"},
        {"hwmon/hwmon0: name=coretemp;temp2_label=Core 0;temp2_input=44000;temp3_label=Core 1;"
         "temp3_input=49000;temp4_input=255000",
         "49°C"},
        {"hwmon/hwmon3: name=k10temp;temp1_label=Tctl;temp1_input=70000;temp2_label=Tdie;"
         "temp2_input=43000;temp3_label=Tccd1;temp3_input=90000",
         "43°C"},
        {"hwmon/hwmon1: name=k10temp;temp1_label=Tctl;temp1_input=61000 | hwmon/hwmon7: "
         "name=coretemp;temp1_label=Package id 0;temp1_input=40000 | thermal/thermal_zone0: "
         "type=x86_pkg_temp;temp=80000",
         "40°C"},
        {"hwmon/hwmon10: name=cpu_thermal;temp1_input=30000 | hwmon/hwmon2: "
         "name=cpu-thermal;temp1_input=35000",
         "35°C"},
        {"hwmon/hwmon0: name=acpitz;temp1_input=27800 | thermal/thermal_zone0: "
         "type=acpitz;temp=27800 | thermal/thermal_zone1: type=iwlwifi_1;temp=33000",
         "--°C"},
        {"thermal/thermal_zone0: type=acpitz;temp=27800 | thermal/thermal_zone2: "
         "type=x86_pkg_temp;temp=56000",
         "56°C"},
        {"thermal/thermal_zone0: type=gpu-thermal;temp=61000 | thermal/thermal_zone1: "
         "type=soc-thermal;temp=41000",
         "41°C"},
        {"thermal/thermal_zone3: type=ddr-thermal;temp=50000 | thermal/thermal_zone4: "
         "type=cpu0-thermal;temp=44500",
         "45°C"},
        {"hwmon/hwmon0: name=gpu_thermal;temp1_input=60000 | hwmon/hwmon1: "
         "name=soc_thermal;temp1_input=39000",
         "39°C"},
        {"hwmon/hwmon0: name=cpu_thermal;temp1_input=-1500", "-2°C"},
        {"hwmon/hwmon0: name=coretemp;temp1_label=Package id 0;temp1_input=150001", "--°C"},
        {"hwmon/hwmon0: name=coretemp;temp1_label=Package id 0;temp1_input=-40001", "--°C"},
        {"thermal/thermal_zone0: type=cpu-thermal;temp=hot", "--°C"},
        {"hwmon/hwmon0: name=k10temp;temp1_label=Tdie;temp1_input= | thermal/thermal_zone0: "
         "type=cpu_thermal;temp=38000",
         "38°C"}};
    for (const auto& [devices, expected] : cases) {
        const FakeTree sys;
        plant(sys, QStringLiteral("class/"), QString::fromUtf8(devices));
        EXPECT_EQ(samplerOf(sys).readCpuTemperatureText(), QString::fromUtf8(expected)) << devices;
    }
}

TEST(Samplers, MemoryOfAFakeTree)
{
    const std::pair<const char*, std::optional<std::uint64_t>> cases[] = {
        {"MemFree:  100 kB\nMemAvailable:   8000 kB\n", 8000 * 1024},
        {"MemFree: 100 kB\nInactive: 900 kB\nInactive(file): 500 kB\n", 600 * 1024},
        {"MemAvailable: lots kB\nMemFree: 10 kB\n", 10 * 1024},
        {"MemAvailable: 5 MB\n", std::nullopt},
        {"MemAvailable: -5 kB\n", std::nullopt},
        {"MemAvailable: 18014398509481984 kB\n", std::nullopt}, // bytes beyond 64 bits
        {"\x01\x02:\xff\n::\n", std::nullopt}};
    for (const auto& [meminfo, expected] : cases) {
        const FakeTree proc;
        proc.write(QStringLiteral("meminfo"), meminfo);
        EXPECT_EQ(samplerOf(proc).readAvailableMemory(), expected) << meminfo;
    }
    EXPECT_EQ(samplerOf(FakeTree()).readAvailableMemory(), std::nullopt);
}

// The load between passes, from the aggregate line (guest time is already in user and nice).
TEST(Samplers, CpuLoadBetweenPasses)
{
    const FakeTree proc;
    kmb::LinuxStatusSampler sampler = samplerOf(proc);
    const std::pair<const char*, std::optional<QString>> passes[] = {
        {"intr 1 2\ncpu  200 0 0 800 0 0 0 0 90 100\ncpu0 1 1 1 1\n", "—"}, // no earlier pass
        {"cpu  237 0 0 863 0 0 0 0 95 100\n", "37%"},
        {"cpu  237 0 0 863 0 0 0 0 95 100\n", std::nullopt}, // no time passed: keep the text
        {"cpu  100 0 0 500\n", std::nullopt}, // a CPU went offline: counters went backwards
        {"cpu  200 0 0 500 0 0 0 0\n", "100%"},
        {"cpu  150 0 0 650\n", std::nullopt}, // busy time fell while the total rose
        {"cpu  1 2 3\n", "—"},                // unreadable: the baseline goes too
        {"cpu  160 0 0 740\n", "—"},
        {"cpu  166 0 0 741 1 1 0 0\n", "78%"}, // rounds to nearest: 7/9 busy
        {"cpu  18446744073709551615 1 0 0\n", "—"},
        {"cpu0 1 2 3 4 5 6 7 8\n", "—"}};
    for (const auto& [stat, expected] : passes) {
        proc.write(QStringLiteral("stat"), stat);
        EXPECT_EQ(sampler.readCpuLoadText(), expected) << stat;
    }
    EXPECT_EQ(kmb::loadPercent(1, 8), 88); // halves up
    EXPECT_EQ(kmb::loadPercent(150, 100), 0);
    EXPECT_EQ(kmb::loadPercent(0, UINT64_MAX), 100);
}

// A sensor that reads garbage for a while, or whose device vanishes (its attributes become
// unreadable, then its directory goes), is replaced by the next source at once and shown again
// as soon as it reads; one that appears later is found.
TEST(Samplers, TemperatureSensorsComeAndGo)
{
    const FakeTree sys;
    sys.writeDevice("class/hwmon/hwmon3", "name=coretemp;temp1_label=Package id 0;temp1_input=");
    sys.writeDevice("class/thermal/thermal_zone0", "type=x86_pkg_temp;temp=warm");
    // Every read is a search when due; the clock makes every search due (the gate that spares
    // sensorless machines is tested on its own).
    std::chrono::steady_clock::time_point now{};
    const auto read = [&](const kmb::CpuTemperatureReader& r) {
        now += kmb::RediscoveryGate::kSearchAgainAfter;
        return r.readPackageCelsius();
    };
    const kmb::CpuTemperatureReader reader(sys.root(), [&] { return now; });
    const QString input = QStringLiteral("class/hwmon/hwmon3/temp1_input");
    const QString zone = QStringLiteral("class/thermal/thermal_zone0/temp");
    const std::tuple<QString, const char*, std::optional<int>> steps[] = {
        {zone, "warm", std::nullopt},
        {zone, "52000", 52},
        {zone, "1000000000", std::nullopt},
        {input, "47000", 47},
        {input, "52000", 52},
        {input, "-273150", std::nullopt},
        {zone, "53000", 53},
        {zone, "-100000", std::nullopt},
        {input, "48000", 48}};
    for (const auto& [file, value, celsius] : steps) {
        sys.write(file, value);
        EXPECT_EQ(read(reader), celsius) << file.toStdString() << "=" << value;
    }
    sys.write(zone, "53000");
    for (int round = 0; round < 2; ++round) {
        sys.write(input, "");
        ASSERT_TRUE(QDir(sys.path("class/hwmon/hwmon3")).removeRecursively());
        EXPECT_EQ(read(reader), 53) << round;
        sys.writeDevice("class/hwmon/hwmon3", "name=coretemp;temp1_label=Package id 0;"
                                              "temp1_input=45000");
        sys.write(zone, "");
        EXPECT_EQ(read(reader), 45) << round;
        sys.write(zone, "53000");
    }

    // A source earlier in the order that appears later replaces the one in use.
    sys.writeDevice("class/hwmon/hwmon1",
                    "name=coretemp;temp1_label=Package id 0;temp1_input=39000");
    std::optional<int> seen;
    for (int i = 0; i <= kmb::CpuTemperatureReader::kRediscoverAfterReads && seen != 39; ++i)
        seen = read(reader);
    EXPECT_EQ(seen, 39);
    const FakeTree late;
    const kmb::CpuTemperatureReader lateReader(late.root(), [&] { return now; });
    EXPECT_EQ(read(lateReader), std::nullopt);
    late.writeDevice("class/hwmon/hwmon0", "name=k10temp;temp1_input=47000"); // no label yet
    EXPECT_EQ(read(lateReader), 47);
}

TEST(Samplers, HomeVolume)
{
    EXPECT_EQ(kmb::saturatedBytes(1ull << 51, 4096), INT64_MAX); // 2^63: past int64
    EXPECT_EQ(kmb::saturatedBytes(1ull << 52, 4096), INT64_MAX); // 2^64: wraps in 64 bits
    const kmb::VolumeReading reading = kmb::homeVolumeReading({10, 20, 512, {"", "/home", ""}});
    EXPECT_EQ(reading.availableBytes, 5120);
    EXPECT_EQ(reading.totalBytes, 10240);
    EXPECT_EQ(reading.name, "home");

    // The names follow the home to another volume (/proc is always one of its own) and back.
    const FakeTree dir;
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

} // namespace
