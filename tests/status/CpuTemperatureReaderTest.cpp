// Which sensor of a fake /sys gives the CPU temperature text, as sensors come and go.

#include "status/CpuTemperatureReader.h"
#include "TestSupport.h"

namespace {

using namespace std::chrono_literals;

using Files = std::vector<std::pair<QString, QByteArray>>;

// Attribute files below class/: a hwmon device whose inputs are temp1, temp2, … (label,
// millidegrees; an empty label has no file), or a thermal zone.
Files hwmon(int number, const char* name, const Files& inputs)
{
    const QString dir = QStringLiteral("hwmon/hwmon%1/").arg(number);
    Files files{{dir + "name", name}};
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const QString temp = dir + QStringLiteral("temp%1_").arg(i + 1);
        if (!inputs[i].first.isEmpty())
            files.emplace_back(temp + "label", inputs[i].first.toUtf8());
        files.emplace_back(temp + "input", inputs[i].second);
    }
    return files;
}

Files zone(int number, const char* type, const char* millidegrees)
{
    const QString dir = QStringLiteral("thermal/thermal_zone%1/").arg(number);
    return {{dir + "type", type}, {dir + "temp", millidegrees}};
}

void plant(const kmb::test::FakeTree& sys, const std::vector<Files>& devices)
{
    for (const Files& device : devices)
        for (const auto& [file, content] : device)
            sys.write("class/" + file, content);
}

TEST(CpuTemperatureReader, TextOfAFakeTree)
{
    const struct {
        std::vector<Files> devices;
        const char* text;
    } trees[] = {
        // coretemp's package input over hotter cores, else its hottest plausible core.
        {{hwmon(0, "coretemp\n", {{"Package id 0\n", "51500\n"}, {"Core 0", "70000"}})}, "52°C"},
        {{hwmon(0, "coretemp", {{"Core 0", "44000"}, {"Core 1", "49000"}, {"", "255000"}})},
         "49°C"},
        // AMD's Tdie over Tctl, then Tctl; a single unlabelled input of an older kernel.
        {{hwmon(3, "k10temp", {{"Tctl", "70000"}, {"Tdie", "43000"}, {"Tccd1", "90000"}})}, "43°C"},
        {{hwmon(3, "k10temp", {{"Tccd1", "90000"}, {"Tctl", "61000"}})}, "61°C"},
        {{hwmon(3, "zenpower", {{"", "47000"}})}, "47°C"},
        {{hwmon(3, "k10temp", {{"Tccd1", "90000"}})}, "--°C"},
        // By kind, then by number; thermal zones only when no hwmon device reads.
        {{hwmon(1, "k10temp", {{"Tctl", "61000"}}),
          hwmon(7, "coretemp", {{"Package id 0", "40000"}}), zone(0, "x86_pkg_temp", "80000")},
         "40°C"},
        {{hwmon(10, "cpu_thermal", {{"", "30000"}}), hwmon(2, "cpu0_thermal", {{"", "35000"}})},
         "35°C"},
        {{hwmon(0, "acpitz", {{"", "27800"}}), zone(0, "acpitz", "27800"),
          zone(1, "iwlwifi_1", "33000")},
         "--°C"},
        {{zone(10, "cpu-thermal", "30000"), zone(2, "x86_pkg_temp", "56000")}, "56°C"},
        {{hwmon(0, "k10temp", {{"Tdie", ""}}), zone(0, "cpu-thermal", "38000")}, "38°C"},
        // Whole degrees, halves away from zero, within −40…150 °C.
        {{zone(0, "cpu-thermal", "44500")}, "45°C"},
        {{zone(0, "cpu-thermal", "-1500")}, "-2°C"},
        {{zone(0, "cpu-thermal", "150000")}, "150°C"},
        {{zone(0, "cpu-thermal", "150001")}, "--°C"},
        {{zone(0, "cpu-thermal", "-40000")}, "-40°C"},
        {{zone(0, "cpu-thermal", "-40001")}, "--°C"},
    };
    for (const auto& tree : trees) {
        const kmb::test::FakeTree sys;
        plant(sys, tree.devices);
        const kmb::CpuTemperatureReader reader(sys.root());
        EXPECT_EQ(kmb::cpuTemperatureText(reader.readPackageCelsius()), tree.text) << tree.text;
    }
}

// A sensor that reads garbage, or whose device vanishes, is replaced by the next source in the
// same read, and shown again as soon as it reads; a better one is found within 31 reads.
TEST(CpuTemperatureReader, SensorsComeAndGo)
{
    const kmb::test::FakeTree sys;
    plant(sys, {hwmon(3, "coretemp", {{"Package id 0", ""}}), zone(0, "x86_pkg_temp", "warm")});
    std::chrono::steady_clock::time_point now{}; // every search is due at each read
    const kmb::CpuTemperatureReader reader(sys.root(), [&] { return now += 28s; });
    const QString input = QStringLiteral("class/hwmon/hwmon3/temp1_input");
    const QString zoneTemp = QStringLiteral("class/thermal/thermal_zone0/temp");
    const struct {
        QString file;
        const char* value;
        std::optional<int> celsius;
    } steps[] = {{zoneTemp, "52000", 52}, {zoneTemp, "1000000000", std::nullopt},
                 {input, "47000", 47},    {zoneTemp, "53000", 47},
                 {input, "-273150", 53},  {zoneTemp, "-100000", std::nullopt},
                 {input, "48000", 48},    {zoneTemp, "53000", 48}};
    for (const auto& step : steps) {
        sys.write(step.file, step.value);
        EXPECT_EQ(reader.readPackageCelsius(), step.celsius)
            << step.file.toStdString() << "=" << step.value;
    }
    ASSERT_TRUE(QDir(sys.path("class/hwmon/hwmon3")).removeRecursively());
    EXPECT_EQ(reader.readPackageCelsius(), 53);
    plant(sys, {hwmon(3, "coretemp", {{"Package id 0", "45000"}})});
    sys.write(zoneTemp, "");
    EXPECT_EQ(reader.readPackageCelsius(), 45);
}

} // namespace
