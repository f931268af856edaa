#pragma once

#include "status/StatusSampler.h"

#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

namespace kmb {

// The first power source's readings under the keys the texts are computed from. An absent
// value takes its key's default: capacities 0, not charging, no state.
struct PowerSourceDescription {
    std::optional<std::int64_t> currentCapacity; // "Current Capacity"
    std::optional<std::int64_t> maxCapacity;     // "Max Capacity"
    bool isCharging = false;                     // "Is Charging"
    QString powerSourceState;                    // "Power Source State"
};

inline QString acPowerState()
{
    return QStringLiteral("AC Power");
}

// ⌊current × 100 ÷ max⌋ in exact integer arithmetic (toward zero for a negative current),
// not clamped, so 105 of 100 stays 105; 0 when max is below 1. Saturates at the 64-bit
// limits instead of overflowing.
std::int64_t batteryPercent(std::int64_t current, std::int64_t max);

// "80%" with "充电中", "已充满" or "电池供电"; no source reads "—" and "不可用".
BatteryTexts batteryTexts(const std::optional<PowerSourceDescription>& source);

bool isBatteryType(QStringView type);        // Battery, UPS
bool isExternalSupplyType(QStringView type); // Mains, USB

// A power_supply entry that is the machine's own battery: type Battery or UPS, not a
// peripheral's (scope Device), and not reported absent.
bool isSystemBattery(QStringView type, const std::optional<QString>& scope,
                     std::optional<std::int64_t> present);
// Mains or USB supply that reports online = 1.
bool isExternalPowerOnline(QStringView type, std::optional<std::int64_t> online);

// The charge attributes of one battery; absent when unreadable.
struct BatteryCharge {
    std::optional<std::int64_t> capacityPercent;
    std::optional<std::int64_t> energyNow, energyFull;
    std::optional<std::int64_t> chargeNow, chargeFull;
};

// capacity over 100, else energy_now over energy_full, else charge_now over charge_full; a
// pair counts only when both halves were read.
PowerSourceDescription describeBattery(const BatteryCharge& charge, QStringView status,
                                       bool externalPowerOnline);

} // namespace kmb
