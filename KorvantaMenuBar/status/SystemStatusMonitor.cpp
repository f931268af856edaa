#include "status/SystemStatusMonitor.h"

#include "status/FallbackTexts.h"
#include "status/QueuedTicks.h"

namespace kmb {

SystemStatusMonitor::SystemStatusMonitor(std::unique_ptr<StatusSampler> sampler, QObject* parent)
    : QObject(parent), m_sampler(std::move(sampler)), m_diskName(fallback::diskName()),
      m_batteryPercentText(fallback::placeholder()),
      m_batteryStatusText(fallback::batteryUnavailable()), m_cpuLoadText(fallback::placeholder()),
      m_cpuTemperatureText(fallback::cpuTemperature())
{
}

SystemStatusMonitor::~SystemStatusMonitor()
{
    // Stop ticking before the fields go away.
    delete m_timer;
}

void SystemStatusMonitor::startMonitoring()
{
    refresh();
    delete m_timer;
    m_timer = startQueuedTicks(this, refreshIntervalMs, [this] { refresh(); });
}

void SystemStatusMonitor::refresh()
{
    publish(m_availableMemoryBytes, m_sampler->readAvailableMemory().value_or(0));
    updateDiskInfo();
    publish(m_totalCleanedBytes, m_sampler->readTotalCleanedBytes());
    updateBatteryInfo();
    updateCPUInfo();
}

void SystemStatusMonitor::updateDiskInfo()
{
    const std::optional<VolumeReading> volume = m_sampler->readHomeVolume();
    if (!volume)
        return;
    publish(m_availableDiskBytes, volume->availableBytes);
    publish(m_totalDiskBytes, volume->totalBytes);
    publish(m_diskName, volume->name);
    m_hasSampledDisk = true;
}

void SystemStatusMonitor::updateBatteryInfo()
{
    BatteryTexts texts = m_sampler->readBatteryTexts();
    publish(m_batteryPercentText, std::move(texts.percentText));
    publish(m_batteryStatusText, std::move(texts.statusText));
}

void SystemStatusMonitor::updateCPUInfo()
{
    std::optional<QString> load = m_sampler->readCpuLoadText();
    publish(m_cpuLoadText, load ? std::move(*load) : m_cpuLoadText);
    publish(m_cpuTemperatureText, m_sampler->readCpuTemperatureText());
}

} // namespace kmb
