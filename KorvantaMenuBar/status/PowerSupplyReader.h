#pragma once

#include "status/BatterySampling.h"
#include "status/KernelFiles.h"
#include "status/RediscoveryGate.h"

#include <QString>
#include <optional>

namespace kmb {

// The charge attributes that a kernel can report, the others unread. power_supply values are
// 32-bit ints: capacity counts only in 0…100, as its ABI defines it; energy_now and charge_now
// in 0…INT32_MAX, energy_full and charge_full in 1…INT32_MAX. A pair whose now is more than
// twice its full counts as unread too (a worn battery does report a little above 100 %, never
// that much), so that the next source is tried and no absurd percentage is shown.
BatteryCharge plausibleCharge(const BatteryCharge& read);

// Reads <sys>/class/power_supply: the machine's first battery, by name, and whether any
// external supply is online. While there is a battery, every call lists the directory (a USB
// supply comes and goes with its cable) and reads the attributes, kept open between calls.
// Once a call found none, the directory is listed again only when the RediscoveryGate lets it.
class PowerSupplyReader {
public:
    explicit PowerSupplyReader(QString sysRoot, RediscoveryGate::Clock clock = {});

    // nullopt when the machine has no battery of its own.
    std::optional<PowerSourceDescription> readFirstPowerSource() const;

private:
    std::optional<PowerSourceDescription> search() const;

    QString m_dir;
    mutable kernelfiles::AttributeFiles m_files;
    mutable RediscoveryGate m_gate;
    mutable bool m_batteryFound = false;
};

} // namespace kmb
