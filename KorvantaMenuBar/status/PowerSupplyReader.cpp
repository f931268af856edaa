#include "status/PowerSupplyReader.h"

#include "status/KernelFiles.h"

#include <limits>

namespace kmb {

namespace {

using Reading = std::optional<std::int64_t>;

constexpr std::int64_t kernelIntMax = std::numeric_limits<std::int32_t>::max();

Reading within(Reading value, std::int64_t low, std::int64_t high)
{
    return value && *value >= low && *value <= high ? value : std::nullopt;
}

// Both halves of a now/full pair, or neither.
void keepPlausiblePair(Reading& now, Reading& full)
{
    now = within(now, 0, kernelIntMax);
    full = within(full, 1, kernelIntMax);
    if (!now || !full || *now > 2 * *full) {
        now.reset();
        full.reset();
    }
}

} // namespace

BatteryCharge plausibleCharge(const BatteryCharge& read)
{
    BatteryCharge charge = read;
    charge.capacityPercent = within(read.capacityPercent, 0, 100);
    keepPlausiblePair(charge.energyNow, charge.energyFull);
    keepPlausiblePair(charge.chargeNow, charge.chargeFull);
    return charge;
}

PowerSupplyReader::PowerSupplyReader(QString sysRoot, RediscoveryGate::Clock clock)
    : m_dir(sysRoot + QStringLiteral("/class/power_supply")), m_gate({m_dir}, std::move(clock))
{
}

std::optional<PowerSourceDescription> PowerSupplyReader::readFirstPowerSource() const
{
    if (!m_batteryFound && !m_gate.searchDue())
        return std::nullopt;
    std::optional<PowerSourceDescription> source = search();
    m_files.sweep();
    m_batteryFound = source.has_value();
    return source;
}

std::optional<PowerSourceDescription> PowerSupplyReader::search() const
{
    std::optional<QString> batteryDir;
    bool externalPowerOnline = false;
    for (const QString& entry : kernelfiles::listEntries(m_dir, QString())) {
        const QString dir = m_dir + u'/' + entry + u'/';
        const std::optional<QString> type = m_files.readText(dir + QStringLiteral("type"));
        if (!type)
            continue;
        if (isExternalSupplyType(*type)) {
            externalPowerOnline =
                externalPowerOnline ||
                isExternalPowerOnline(*type, m_files.readInteger(dir + QStringLiteral("online")));
        } else if (!batteryDir && isBatteryType(*type)) {
            // Batteries after the machine's own are not read.
            if (isSystemBattery(*type, m_files.readText(dir + QStringLiteral("scope")),
                                m_files.readInteger(dir + QStringLiteral("present"))))
                batteryDir = dir;
        }
    }
    if (!batteryDir)
        return std::nullopt;

    auto integer = [&](const char* attribute) {
        return m_files.readInteger(*batteryDir + QLatin1StringView(attribute));
    };
    BatteryCharge charge;
    charge.capacityPercent = within(integer("capacity"), 0, 100);
    if (!charge.capacityPercent) {
        charge.energyNow = integer("energy_now");
        charge.energyFull = integer("energy_full");
        charge.chargeNow = integer("charge_now");
        charge.chargeFull = integer("charge_full");
    }
    const QString status =
        m_files.readText(*batteryDir + QStringLiteral("status")).value_or(QString());
    return describeBattery(plausibleCharge(charge), status, externalPowerOnline);
}

} // namespace kmb
