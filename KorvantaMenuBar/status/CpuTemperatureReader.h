#pragma once

#include "status/CpuTemperature.h"

#include <QString>
#include <optional>
#include <vector>

namespace kmb {

// Reads the CPU package temperature from hwmon, then from thermal zones. Only devices of a
// known CPU kind have their sensors read: reading some others (disk drives) wakes hardware.
class CpuTemperatureReader {
public:
    explicit CpuTemperatureReader(QString sysRoot);

    // The first source, in order, with a plausible reading.
    std::optional<int> readPackageCelsius() const;

private:
    std::vector<TemperatureSource> listHwmonSources() const;
    std::vector<TemperatureSource> listThermalZoneSources() const;
    std::optional<int> readSource(const TemperatureSource& source) const;
    std::optional<int> readHwmon(const QString& deviceDir, TemperatureSourceKind kind) const;

    QString m_hwmonDir;
    QString m_thermalDir;
};

} // namespace kmb
