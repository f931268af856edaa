#pragma once

#include "status/BatterySampling.h"

#include <QString>
#include <optional>

namespace kmb {

// Reads <sys>/class/power_supply: the machine's first battery, by name, and whether any
// external supply is online.
class PowerSupplyReader {
public:
    explicit PowerSupplyReader(QString sysRoot);

    // nullopt when the machine has no battery of its own.
    std::optional<PowerSourceDescription> readFirstPowerSource() const;

private:
    QString m_dir;
};

} // namespace kmb
