#pragma once

#include "status/FallbackStatusSampler.h"

#include <utility>

namespace kmb::test {

// A sampler whose readings the test sets; counts passes.
class ScriptedSampler : public FallbackStatusSampler {
public:
    std::optional<std::uint64_t> memory;
    std::optional<VolumeReading> volume;
    std::int64_t cleaned = 0;
    BatteryTexts battery{QStringLiteral("\u2014"), QStringLiteral("不可用")};
    std::optional<QString> cpuLoad;
    QString cpuTemperature = QStringLiteral("--°C");
    int passes = 0;
    int* passesOutliving = nullptr; // counts on after the sampler is gone

    std::optional<std::uint64_t> readAvailableMemory() override
    {
        ++passes;
        if (passesOutliving)
            ++*passesOutliving;
        return memory;
    }
    std::optional<VolumeReading> readHomeVolume() override { return volume; }
    std::int64_t readTotalCleanedBytes() override { return cleaned; }
    BatteryTexts readBatteryTexts() override { return battery; }
    std::optional<QString> readCpuLoadText() override { return cpuLoad; }
    QString readCpuTemperatureText() override { return cpuTemperature; }
};

} // namespace kmb::test
