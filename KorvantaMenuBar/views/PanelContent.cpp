#include "views/PanelContent.h"

#include "status/SystemStatusMonitor.h"
#include "views/ByteFormatting.h"
#include "views/Palette.h"

#include <QCoreApplication>

namespace kmb {

PanelFigures readPanelFigures(const SystemStatusMonitor& monitor)
{
    PanelFigures figures;
    figures.diskName = monitor.diskName();
    figures.availableDiskBytes = monitor.availableDiskBytes();
    figures.availableMemoryBytes = monitor.availableMemoryBytes();
    figures.batteryStatusText = monitor.batteryStatusText();
    figures.batteryPercentText = monitor.batteryPercentText();
    figures.cpuLoadText = monitor.cpuLoadText();
    figures.cpuTemperatureText = monitor.cpuTemperatureText();
    figures.totalCleanedBytes = monitor.totalCleanedBytes();
    return figures;
}

// The dashboard's fixed words are translatable, with the figures filled in; the ASCII
// colons are deliberate.
QString volumeValueText(std::int64_t availableDiskBytes, const QLocale& locale)
{
    return QCoreApplication::translate("kmb::MenuBarPanelView", "可用: %1")
        .arg(formatFileBytes(availableDiskBytes, locale));
}

QString memoryValueText(std::uint64_t availableMemoryBytes, const QLocale& locale)
{
    return QCoreApplication::translate("kmb::MenuBarPanelView", "可用: %1")
        .arg(formatMemoryBytes(availableMemoryBytes, locale));
}

QString cpuValueText(const QString& cpuLoadText)
{
    return QCoreApplication::translate("kmb::MenuBarPanelView", "加载: %1").arg(cpuLoadText);
}

QString cleanedTotalText(std::int64_t totalCleanedBytes, const QLocale& locale)
{
    return QCoreApplication::translate("kmb::MenuBarPanelView", "已累计清理 %1 垃圾")
        .arg(formatFileBytes(totalCleanedBytes, locale));
}

std::array<MetricCardContent, 4>
panelCards(const PanelFigures& figures, const std::function<void()>& openApp, const QLocale& locale)
{
    // The disk name and "CPU" are names, not words: they stay as they are.
    const QString release = QCoreApplication::translate("kmb::MenuBarPanelView", "释放");
    return {{
        {figures.diskName, volumeValueText(figures.availableDiskBytes, locale), std::nullopt,
         release, QStringLiteral("internaldrive"), palette::systemYellow(), openApp},
        {QCoreApplication::translate("kmb::MenuBarPanelView", "内存"),
         memoryValueText(figures.availableMemoryBytes, locale), std::nullopt, release,
         QStringLiteral("memorychip"), palette::white(), openApp},
        {QCoreApplication::translate("kmb::MenuBarPanelView", "电池"), figures.batteryStatusText,
         figures.batteryPercentText, std::nullopt, QStringLiteral("battery.100"), palette::white(),
         nullptr},
        {QStringLiteral("CPU"), cpuValueText(figures.cpuLoadText), figures.cpuTemperatureText,
         std::nullopt, QStringLiteral("cpu"), palette::systemYellow(), nullptr},
    }};
}

} // namespace kmb
