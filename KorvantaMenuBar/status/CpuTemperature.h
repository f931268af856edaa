#pragma once

#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>
#include <vector>

namespace kmb {

// Where a CPU package temperature can come from, most trusted first.
enum class TemperatureSourceKind {
    Coretemp,        // hwmon "coretemp" (Intel)
    AmdCpu,          // hwmon "k10temp" or "zenpower"
    CpuThermalHwmon, // hwmon "cpu_thermal", "cpu0_thermal", "soc_thermal" (ARM boards)
    X86PackageZone,  // thermal zone "x86_pkg_temp"
    CpuThermalZone,  // thermal zone "cpu-thermal", "cpu0-thermal", "soc-thermal"
};

// nullopt for anything that is not known to measure the CPU (acpitz, GPUs, disks, ...).
std::optional<TemperatureSourceKind> hwmonSourceKind(QStringView name);
std::optional<TemperatureSourceKind> thermalZoneSourceKind(QStringView type);
bool isThermalZone(TemperatureSourceKind kind);

struct TemperatureSource {
    TemperatureSourceKind kind;
    QString dirName; // "hwmon3", "thermal_zone1"
};

// By kind, then by directory number (hwmon2 before hwmon10).
void orderTemperatureSources(std::vector<TemperatureSource>& sources);

// One tempN_input of a hwmon device and its tempN_label (empty when there is none).
struct TemperatureInput {
    int index = 0;
    QString label;
};

// The inputs whose hottest valid reading stands for the package: coretemp's "Package id"
// input, else all its (core) inputs; AMD's "Tdie", else "Tctl"; otherwise the first input.
std::vector<int> packageInputs(TemperatureSourceKind kind,
                               const std::vector<TemperatureInput>& inputs);

// Whole degrees, rounded to nearest; nullopt outside −40…150 °C (a broken or absent sensor).
std::optional<int> celsiusFromMillidegrees(std::int64_t millidegrees);
// The hottest plausible reading; nullopt when none is.
std::optional<int> hottestCelsius(const std::vector<std::optional<std::int64_t>>& millidegrees);

// "47°C", or "--°C" without a reading.
QString cpuTemperatureText(std::optional<int> celsius);

} // namespace kmb
