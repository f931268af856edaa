#include "status/BatterySampling.h"

#include "status/FallbackTexts.h"

#include <QCoreApplication>

#include <limits>

namespace kmb {

namespace {

__extension__ typedef __int128 Int128;

} // namespace

std::int64_t batteryPercent(std::int64_t current, std::int64_t max)
{
    if (max < 1)
        return 0;
    // current × 100 needs up to 71 bits; the division truncates toward zero.
    const Int128 percent = Int128(current) * 100 / max;
    if (percent > std::numeric_limits<std::int64_t>::max())
        return std::numeric_limits<std::int64_t>::max();
    if (percent < std::numeric_limits<std::int64_t>::min())
        return std::numeric_limits<std::int64_t>::min();
    return std::int64_t(percent);
}

BatteryTexts batteryTexts(const std::optional<PowerSourceDescription>& source)
{
    if (!source)
        return {fallback::placeholder(), fallback::batteryUnavailable()};
    const std::int64_t percent =
        batteryPercent(source->currentCapacity.value_or(0), source->maxCapacity.value_or(0));
    // Display texts: translated when the application has a translation installed.
    QString status;
    if (source->isCharging)
        status = QCoreApplication::translate("kmb::BatterySampling", "充电中");
    else if (source->powerSourceState == acPowerState())
        status = QCoreApplication::translate("kmb::BatterySampling", "已充满");
    else
        status = QCoreApplication::translate("kmb::BatterySampling", "电池供电");
    return {QString::number(percent) + u'%', status};
}

bool isBatteryType(QStringView type)
{
    return type == u"Battery" || type == u"UPS";
}

bool isExternalSupplyType(QStringView type)
{
    return type == u"Mains" || type == u"USB";
}

bool isSystemBattery(QStringView type, const std::optional<QString>& scope,
                     std::optional<std::int64_t> present)
{
    if (!isBatteryType(type))
        return false;
    if (scope && *scope == u"Device")
        return false;
    return !present || *present != 0;
}

bool isExternalPowerOnline(QStringView type, std::optional<std::int64_t> online)
{
    return isExternalSupplyType(type) && online && *online == 1;
}

PowerSourceDescription describeBattery(const BatteryCharge& charge, QStringView status,
                                       bool externalPowerOnline)
{
    PowerSourceDescription description;
    if (charge.capacityPercent) {
        description.currentCapacity = charge.capacityPercent;
        description.maxCapacity = 100;
    } else if (charge.energyNow && charge.energyFull) {
        description.currentCapacity = charge.energyNow;
        description.maxCapacity = charge.energyFull;
    } else if (charge.chargeNow && charge.chargeFull) {
        description.currentCapacity = charge.chargeNow;
        description.maxCapacity = charge.chargeFull;
    }
    description.isCharging = status == u"Charging";
    if (externalPowerOnline)
        description.powerSourceState = acPowerState();
    return description;
}

} // namespace kmb
