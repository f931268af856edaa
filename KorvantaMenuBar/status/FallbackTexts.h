#pragma once

#include <QCoreApplication>
#include <QString>

namespace kmb::fallback {

// Shown where a figure cannot be read.
inline QString placeholder()
{
    return QStringLiteral("\u2014");
}
inline QString diskName()
{
    return QStringLiteral("Macintosh HD");
}
inline QString batteryUnavailable()
{
    return QCoreApplication::translate("kmb::BatterySampling", "不可用");
}
inline QString cpuTemperature()
{
    return QStringLiteral("--°C");
}

} // namespace kmb::fallback
