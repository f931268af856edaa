#include "status/FallbackStatusSampler.h"

#include "status/FallbackTexts.h"

namespace kmb {

BatteryTexts FallbackStatusSampler::readBatteryTexts()
{
    return {fallback::placeholder(), fallback::batteryUnavailable()};
}

std::optional<QString> FallbackStatusSampler::readCpuLoadText()
{
    return fallback::placeholder();
}

QString FallbackStatusSampler::readCpuTemperatureText()
{
    return fallback::cpuTemperature();
}

} // namespace kmb
