#include "status/LinuxStatusSampler.h"

#include <QDir>
#include <QStandardPaths>

namespace kmb {

LinuxStatusSampler::LinuxStatusSampler(SystemRoots roots)
    : m_roots(std::move(roots)), m_memInfo(m_roots.procRoot),
      m_homeVolume(m_roots.homePath, m_roots.procRoot, m_roots.fileSystemRoot),
      m_powerSupplies(m_roots.sysRoot), m_cpuStat(m_roots.procRoot),
      m_cpuTemperature(m_roots.sysRoot), m_history(m_roots.dataDir)
{
}

std::int64_t LinuxStatusSampler::readTotalCleanedBytes()
{
    return m_history.readTotalCleanedBytes();
}

std::unique_ptr<LinuxStatusSampler> LinuxStatusSampler::forThisMachine()
{
    SystemRoots roots;
    roots.homePath = QDir::homePath();
    const QStringList dataDirs =
        QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    roots.dataDir = dataDirs.isEmpty() ? QString() : dataDirs.first();
    return std::make_unique<LinuxStatusSampler>(std::move(roots));
}

std::optional<std::uint64_t> LinuxStatusSampler::readAvailableMemory()
{
    return availableMemoryBytes(m_memInfo.read());
}

std::optional<VolumeReading> LinuxStatusSampler::readHomeVolume()
{
    const std::optional<HomeVolumeStats> stats = m_homeVolume.read();
    if (!stats)
        return std::nullopt;
    return homeVolumeReading(*stats);
}

BatteryTexts LinuxStatusSampler::readBatteryTexts()
{
    return batteryTexts(m_powerSupplies.readFirstPowerSource());
}

std::optional<QString> LinuxStatusSampler::readCpuLoadText()
{
    return m_cpuLoad.next(m_cpuStat.read());
}

QString LinuxStatusSampler::readCpuTemperatureText()
{
    return cpuTemperatureText(m_cpuTemperature.readPackageCelsius());
}

} // namespace kmb
