#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace kmb {

// What one query of the home volume yields.
struct VolumeReading {
    QString name;
    std::int64_t availableBytes = 0;
    std::int64_t totalBytes = 0;
};

// The two battery texts, ready for display.
struct BatteryTexts {
    QString percentText;
    QString statusText;
};

// The monitor's window on the machine. Production reads /proc, /sys, the home volume and
// Korvanta's history file; tests hand the monitor a double with chosen values.
class StatusSampler {
public:
    virtual ~StatusSampler() = default;

    // Bytes of memory available without swapping; nullopt when nothing could be read.
    virtual std::optional<std::uint64_t> readAvailableMemory() = 0;
    // nullopt when the volume cannot be queried: the monitor then keeps its disk fields.
    virtual std::optional<VolumeReading> readHomeVolume() = 0;
    // Korvanta's total; 0 for anything that is not a valid history.
    virtual std::int64_t readTotalCleanedBytes() = 0;
    virtual BatteryTexts readBatteryTexts() = 0;
    // nullopt: no new information this pass, keep the text shown.
    virtual std::optional<QString> readCpuLoadText() = 0;
    virtual QString readCpuTemperatureText() = 0;
};

} // namespace kmb
