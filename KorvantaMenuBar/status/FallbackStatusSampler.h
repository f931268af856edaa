#pragma once

#include "status/StatusSampler.h"

namespace kmb {

// Reads nothing: every figure takes its documented fallback. Used where no machine is
// to be sampled (and as the base for doubles that override a few readings).
class FallbackStatusSampler : public StatusSampler {
public:
    std::optional<std::uint64_t> readAvailableMemory() override { return std::nullopt; }
    std::optional<VolumeReading> readHomeVolume() override { return std::nullopt; }
    std::int64_t readTotalCleanedBytes() override { return 0; }
    BatteryTexts readBatteryTexts() override;
    std::optional<QString> readCpuLoadText() override;
    QString readCpuTemperatureText() override;
};

} // namespace kmb
