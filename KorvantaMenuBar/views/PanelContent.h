#pragma once

#include "views/MetricCardContent.h"

#include <QLocale>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>

namespace kmb {

class SystemStatusMonitor;

// The monitor's figures that the dashboard shows, read in one go.
struct PanelFigures {
    QString diskName;
    std::int64_t availableDiskBytes = 0;
    std::uint64_t availableMemoryBytes = 0;
    QString batteryStatusText;
    QString batteryPercentText;
    QString cpuLoadText;
    QString cpuTemperatureText;
    std::int64_t totalCleanedBytes = 0;
};

PanelFigures readPanelFigures(const SystemStatusMonitor& monitor);

QString volumeValueText(std::int64_t availableDiskBytes, const QLocale& locale = QLocale());
QString memoryValueText(std::uint64_t availableMemoryBytes, const QLocale& locale = QLocale());
QString cpuValueText(const QString& cpuLoadText);
// The footer line; its fixed words are translatable.
QString cleanedTotalText(std::int64_t totalCleanedBytes, const QLocale& locale = QLocale());

// The four tiles in reading order: volume, memory, battery, CPU. Only volume and memory
// carry the open action.
std::array<MetricCardContent, 4> panelCards(const PanelFigures& figures,
                                            const std::function<void()>& openApp,
                                            const QLocale& locale = QLocale());

} // namespace kmb
