#include "status/PowerSupplyReader.h"

#include "status/KernelFiles.h"

namespace kmb {

PowerSupplyReader::PowerSupplyReader(QString sysRoot)
    : m_dir(sysRoot + QStringLiteral("/class/power_supply"))
{
}

std::optional<PowerSourceDescription> PowerSupplyReader::readFirstPowerSource() const
{
    std::optional<QString> batteryDir;
    bool externalPowerOnline = false;
    for (const QString& entry : kernelfiles::listEntries(m_dir, QString())) {
        const QString dir = m_dir + u'/' + entry + u'/';
        const std::optional<QString> type =
            kernelfiles::readAttribute(dir + QStringLiteral("type"));
        if (!type)
            continue;
        if (isExternalSupplyType(*type)) {
            externalPowerOnline = externalPowerOnline ||
                                  isExternalPowerOnline(*type, kernelfiles::readIntegerAttribute(
                                                                   dir + QStringLiteral("online")));
        } else if (!batteryDir && isBatteryType(*type)) {
            // Batteries after the machine's own are not read.
            if (isSystemBattery(*type, kernelfiles::readAttribute(dir + QStringLiteral("scope")),
                                kernelfiles::readIntegerAttribute(dir + QStringLiteral("present"))))
                batteryDir = dir;
        }
    }
    if (!batteryDir)
        return std::nullopt;

    auto integer = [&](const char* attribute) {
        return kernelfiles::readIntegerAttribute(*batteryDir + QLatin1StringView(attribute));
    };
    BatteryCharge charge;
    charge.capacityPercent = integer("capacity");
    if (!charge.capacityPercent) {
        charge.energyNow = integer("energy_now");
        charge.energyFull = integer("energy_full");
        charge.chargeNow = integer("charge_now");
        charge.chargeFull = integer("charge_full");
    }
    const QString status =
        kernelfiles::readAttribute(*batteryDir + QStringLiteral("status")).value_or(QString());
    return describeBattery(charge, status, externalPowerOnline);
}

} // namespace kmb
