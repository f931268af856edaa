#pragma once

#include "status/CleanupHistoryReader.h"
#include "status/CpuLoadSampling.h"
#include "status/CpuTemperatureReader.h"
#include "status/FallbackStatusSampler.h"
#include "status/HomeVolume.h"
#include "status/MemorySampling.h"
#include "status/PowerSupplyReader.h"

#include <QString>
#include <memory>

namespace kmb {

// Where the readers look. Production passes the real places; tests pass fake trees.
struct SystemRoots {
    QString procRoot = QStringLiteral("/proc");
    QString sysRoot = QStringLiteral("/sys");
    QString homePath; // the volume holding it is the one reported
    QString dataDir;  // stands for Application Support: <dataDir>/Korvanta/CleanupHistory.plist
    // Where /dev/disk/by-label and os-release are looked for, to name the home volume.
    QString fileSystemRoot = QStringLiteral("/");
};

// Samples this Linux machine: memory and CPU load from /proc, temperature and battery from
// /sys, the home volume with statvfs, and Korvanta's total from its history file.
class LinuxStatusSampler : public FallbackStatusSampler {
public:
    explicit LinuxStatusSampler(SystemRoots roots);
    static std::unique_ptr<LinuxStatusSampler> forThisMachine();

    const SystemRoots& roots() const { return m_roots; }

    std::optional<std::uint64_t> readAvailableMemory() override;
    std::optional<VolumeReading> readHomeVolume() override;
    std::int64_t readTotalCleanedBytes() override;
    BatteryTexts readBatteryTexts() override;
    std::optional<QString> readCpuLoadText() override;
    QString readCpuTemperatureText() override;

private:
    SystemRoots m_roots;
    MemInfoReader m_memInfo;
    HomeVolumeReader m_homeVolume;
    PowerSupplyReader m_powerSupplies;
    CpuStatReader m_cpuStat;
    CpuLoadTracker m_cpuLoad;
    CpuTemperatureReader m_cpuTemperature;
    CleanupHistoryReader m_history;
};

} // namespace kmb
