#pragma once

#include "status/FallbackStatusSampler.h"

#include <memory>

namespace kmb::test {

// A sampler whose readings the test chooses. It counts its passes in a counter the test may
// share, which outlives the sampler when the monitor takes it down with it.
class ChosenSampler : public FallbackStatusSampler {
public:
    std::optional<std::uint64_t> memory;
    std::optional<VolumeReading> volume;
    std::int64_t cleaned = 0;
    BatteryTexts battery{QStringLiteral("\u2014"), QStringLiteral("不可用")};
    std::optional<QString> cpuLoad;
    QString cpuTemperature = QStringLiteral("--°C");
    std::shared_ptr<int> passes = std::make_shared<int>(0);

    std::optional<std::uint64_t> readAvailableMemory() override { return ++*passes, memory; }
    std::optional<VolumeReading> readHomeVolume() override { return volume; }
    std::int64_t readTotalCleanedBytes() override { return cleaned; }
    BatteryTexts readBatteryTexts() override { return battery; }
    std::optional<QString> readCpuLoadText() override { return cpuLoad; }
    QString readCpuTemperatureText() override { return cpuTemperature; }
};

} // namespace kmb::test
