#include "status/CpuTemperature.h"

#include "status/FallbackTexts.h"
#include "status/KernelFiles.h"

#include <algorithm>

namespace kmb {

namespace {

// The CPU zones of ARM boards' device trees: "cpu-thermal" on most, "cpu0-thermal" or
// "soc-thermal" on others. A zone's hwmon device carries its name with '_' for '-'.
bool isCpuThermalName(QStringView name)
{
    for (QStringView cpuZone : {u"cpu-thermal", u"cpu0-thermal", u"soc-thermal", u"cpu_thermal",
                                u"cpu0_thermal", u"soc_thermal"}) {
        if (name == cpuZone)
            return true;
    }
    return false;
}

constexpr std::int64_t lowestMillidegrees = -40'000;
constexpr std::int64_t highestMillidegrees = 150'000;

std::optional<int> firstWithLabel(const std::vector<TemperatureInput>& inputs, QStringView label)
{
    for (const TemperatureInput& input : inputs) {
        if (input.label == label)
            return input.index;
    }
    return std::nullopt;
}

} // namespace

std::optional<TemperatureSourceKind> hwmonSourceKind(QStringView name)
{
    if (name == u"coretemp")
        return TemperatureSourceKind::Coretemp;
    if (name == u"k10temp" || name == u"zenpower")
        return TemperatureSourceKind::AmdCpu;
    if (isCpuThermalName(name))
        return TemperatureSourceKind::CpuThermalHwmon;
    return std::nullopt;
}

std::optional<TemperatureSourceKind> thermalZoneSourceKind(QStringView type)
{
    if (type == u"x86_pkg_temp")
        return TemperatureSourceKind::X86PackageZone;
    if (isCpuThermalName(type))
        return TemperatureSourceKind::CpuThermalZone;
    return std::nullopt;
}

bool isThermalZone(TemperatureSourceKind kind)
{
    return kind == TemperatureSourceKind::X86PackageZone ||
           kind == TemperatureSourceKind::CpuThermalZone;
}

void orderTemperatureSources(std::vector<TemperatureSource>& sources)
{
    std::stable_sort(sources.begin(), sources.end(),
                     [](const TemperatureSource& a, const TemperatureSource& b) {
                         if (a.kind != b.kind)
                             return a.kind < b.kind;
                         return kernelfiles::naturalLess(a.dirName, b.dirName);
                     });
}

std::vector<int> packageInputs(TemperatureSourceKind kind,
                               const std::vector<TemperatureInput>& inputs)
{
    std::vector<TemperatureInput> sorted = inputs;
    std::sort(
        sorted.begin(), sorted.end(),
        [](const TemperatureInput& a, const TemperatureInput& b) { return a.index < b.index; });
    switch (kind) {
    case TemperatureSourceKind::Coretemp: {
        for (const TemperatureInput& input : sorted) {
            if (input.label.startsWith(u"Package id"))
                return {input.index};
        }
        // No package sensor (older CPUs): the hottest core stands for it.
        std::vector<int> all;
        for (const TemperatureInput& input : sorted)
            all.push_back(input.index);
        return all;
    }
    case TemperatureSourceKind::AmdCpu:
        // Tctl carries a fixed offset on some models; Tdie is the real die temperature.
        if (const std::optional<int> tdie = firstWithLabel(sorted, u"Tdie"))
            return {*tdie};
        if (const std::optional<int> tctl = firstWithLabel(sorted, u"Tctl"))
            return {*tctl};
        // Kernels before the labels came have a single unlabelled input, the control value.
        if (!sorted.empty() &&
            std::all_of(sorted.begin(), sorted.end(),
                        [](const TemperatureInput& in) { return in.label.isEmpty(); }))
            return {sorted.front().index};
        return {};
    case TemperatureSourceKind::CpuThermalHwmon:
    case TemperatureSourceKind::X86PackageZone:
    case TemperatureSourceKind::CpuThermalZone:
        if (sorted.empty())
            return {};
        return {sorted.front().index};
    }
    return {};
}

std::optional<int> celsiusFromMillidegrees(std::int64_t millidegrees)
{
    if (millidegrees < lowestMillidegrees || millidegrees > highestMillidegrees)
        return std::nullopt;
    // Halves away from zero.
    if (millidegrees >= 0)
        return int((millidegrees + 500) / 1000);
    return -int((-millidegrees + 500) / 1000);
}

std::optional<int> hottestCelsius(const std::vector<std::optional<std::int64_t>>& millidegrees)
{
    std::optional<int> hottest;
    for (const std::optional<std::int64_t>& reading : millidegrees) {
        if (!reading)
            continue;
        const std::optional<int> celsius = celsiusFromMillidegrees(*reading);
        if (celsius && (!hottest || *celsius > *hottest))
            hottest = celsius;
    }
    return hottest;
}

QString cpuTemperatureText(std::optional<int> celsius)
{
    if (!celsius)
        return fallback::cpuTemperature();
    return QString::number(*celsius) + QStringLiteral("°C");
}

} // namespace kmb
