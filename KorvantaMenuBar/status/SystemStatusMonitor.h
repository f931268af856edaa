#pragma once

#include "status/StatusSampler.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>

namespace kmb {

// The single source of the figures the dashboard and the low-disk check show. Every
// assignment of a published field emits objectWillChange() before the value is stored,
// also when the value is unchanged.
class SystemStatusMonitor : public QObject {
    Q_OBJECT

public:
    static constexpr int refreshIntervalMs = 2000;

    explicit SystemStatusMonitor(std::unique_ptr<StatusSampler> sampler, QObject* parent = nullptr);
    ~SystemStatusMonitor() override;

    std::uint64_t availableMemoryBytes() const { return m_availableMemoryBytes; }
    QString diskName() const { return m_diskName; }
    std::int64_t availableDiskBytes() const { return m_availableDiskBytes; }
    std::int64_t totalDiskBytes() const { return m_totalDiskBytes; }
    std::int64_t totalCleanedBytes() const { return m_totalCleanedBytes; }
    QString batteryPercentText() const { return m_batteryPercentText; }
    QString batteryStatusText() const { return m_batteryStatusText; }
    QString cpuLoadText() const { return m_cpuLoadText; }
    QString cpuTemperatureText() const { return m_cpuTemperatureText; }

    // True once a volume query has succeeded: before that the disk fields are placeholders.
    bool hasSampledDisk() const { return m_hasSampledDisk; }
    // True while a refresh timer runs.
    bool isMonitoring() const { return m_timer != nullptr; }

    // Samples once, synchronously, then every two seconds; replaces any earlier timer.
    void startMonitoring();
    // One sampling pass: nine assignments (six when the volume query fails).
    void refresh();

signals:
    void objectWillChange();

private:
    template <typename T, typename V> void publish(T& field, V&& value)
    {
        emit objectWillChange();
        field = std::forward<V>(value);
    }
    void updateDiskInfo();
    void updateBatteryInfo();
    void updateCPUInfo();

    std::unique_ptr<StatusSampler> m_sampler;
    std::uint64_t m_availableMemoryBytes = 0;
    QString m_diskName;
    std::int64_t m_availableDiskBytes = 0;
    std::int64_t m_totalDiskBytes = 0;
    std::int64_t m_totalCleanedBytes = 0;
    QString m_batteryPercentText;
    QString m_batteryStatusText;
    QString m_cpuLoadText;
    QString m_cpuTemperatureText;
    bool m_hasSampledDisk = false;
    QPointer<QTimer> m_timer;
};

} // namespace kmb
