#pragma once

#include "status/BoundedFile.h"
#include "status/CpuTemperature.h"
#include "status/RediscoveryGate.h"

#include <QString>
#include <optional>
#include <vector>

namespace kmb {

// Reads the CPU package temperature from hwmon, then from thermal zones. Only devices of a
// known CPU kind have their sensors read: reading some others (disk drives) wakes hardware.
//
// Finding the sensor lists two sysfs directories and reads a name or type file for each
// device and a label for each input; the answer stays the same from pass to pass. So the
// input files of the source that gave the reading are kept open, and later calls read only
// those. The search runs again at once when they stop giving a plausible reading (the device
// went away, its driver was reloaded), and after kRediscoverAfterReads calls in any case, so
// that a source earlier in the order that has come back is picked up about a minute later at
// one call per pass. While no source gives a reading (machines without a sensor), the
// search runs again only when the RediscoveryGate lets it.
class CpuTemperatureReader {
public:
    static constexpr int kRediscoverAfterReads = 30;

    explicit CpuTemperatureReader(QString sysRoot, RediscoveryGate::Clock clock = {});

    // The first source, in order, with a plausible reading.
    std::optional<int> readPackageCelsius() const;

private:
    std::optional<int> discover() const;
    std::vector<TemperatureSource> listHwmonSources() const;
    std::vector<TemperatureSource> listThermalZoneSources() const;
    // The files whose hottest plausible reading is the source's temperature.
    std::vector<QString> inputFiles(const TemperatureSource& source) const;

    QString m_hwmonDir;
    QString m_thermalDir;
    // The input files of the source in use; empty: none gives a reading.
    mutable std::vector<KeptOpenFile> m_chosenInputs;
    mutable int m_readsSinceDiscovery = 0;
    mutable RediscoveryGate m_gate;
};

} // namespace kmb
