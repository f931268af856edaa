#include "status/CpuTemperatureReader.h"

#include "status/KernelFiles.h"

namespace kmb {

namespace {

// "temp12_input" -> 12.
std::optional<int> inputIndex(const QString& fileName)
{
    static const QString prefix = QStringLiteral("temp");
    static const QString suffix = QStringLiteral("_input");
    if (!fileName.startsWith(prefix) || !fileName.endsWith(suffix))
        return std::nullopt;
    const QString digits =
        fileName.sliced(prefix.size(), fileName.size() - prefix.size() - suffix.size());
    const std::optional<std::int64_t> index = kernelfiles::parseInt64(digits.toLatin1());
    // Only the canonical spelling, so that the paths built from the index name this file.
    if (!index || *index < 0 || *index > 1'000'000 || QString::number(*index) != digits)
        return std::nullopt;
    return int(*index);
}

} // namespace

CpuTemperatureReader::CpuTemperatureReader(QString sysRoot)
    : m_hwmonDir(sysRoot + QStringLiteral("/class/hwmon")),
      m_thermalDir(sysRoot + QStringLiteral("/class/thermal"))
{
}

std::optional<int> CpuTemperatureReader::readPackageCelsius() const
{
    // Thermal zones are only looked at when no hwmon device gives a reading.
    for (auto list :
         {&CpuTemperatureReader::listHwmonSources, &CpuTemperatureReader::listThermalZoneSources}) {
        std::vector<TemperatureSource> sources = (this->*list)();
        orderTemperatureSources(sources);
        for (const TemperatureSource& source : sources) {
            if (const std::optional<int> celsius = readSource(source))
                return celsius;
        }
    }
    return std::nullopt;
}

std::vector<TemperatureSource> CpuTemperatureReader::listHwmonSources() const
{
    std::vector<TemperatureSource> sources;
    for (const QString& dir : kernelfiles::listEntries(m_hwmonDir, QStringLiteral("hwmon"))) {
        const std::optional<QString> name =
            kernelfiles::readAttribute(m_hwmonDir + u'/' + dir + QStringLiteral("/name"));
        if (!name)
            continue;
        if (const std::optional<TemperatureSourceKind> kind = hwmonSourceKind(*name))
            sources.push_back({*kind, dir});
    }
    return sources;
}

std::vector<TemperatureSource> CpuTemperatureReader::listThermalZoneSources() const
{
    std::vector<TemperatureSource> sources;
    for (const QString& dir :
         kernelfiles::listEntries(m_thermalDir, QStringLiteral("thermal_zone"))) {
        const std::optional<QString> type =
            kernelfiles::readAttribute(m_thermalDir + u'/' + dir + QStringLiteral("/type"));
        if (!type)
            continue;
        if (const std::optional<TemperatureSourceKind> kind = thermalZoneSourceKind(*type))
            sources.push_back({*kind, dir});
    }
    return sources;
}

std::optional<int> CpuTemperatureReader::readSource(const TemperatureSource& source) const
{
    if (!isThermalZone(source.kind))
        return readHwmon(m_hwmonDir + u'/' + source.dirName, source.kind);
    const QString path = m_thermalDir + u'/' + source.dirName + QStringLiteral("/temp");
    return hottestCelsius({kernelfiles::readIntegerAttribute(path)});
}

std::optional<int> CpuTemperatureReader::readHwmon(const QString& deviceDir,
                                                   TemperatureSourceKind kind) const
{
    std::vector<TemperatureInput> inputs;
    for (const QString& file : kernelfiles::listEntries(deviceDir, QStringLiteral("temp"))) {
        const std::optional<int> index = inputIndex(file);
        if (!index)
            continue;
        const QString labelPath = deviceDir + QStringLiteral("/temp") + QString::number(*index) +
                                  QStringLiteral("_label");
        inputs.push_back({*index, kernelfiles::readAttribute(labelPath).value_or(QString())});
    }
    std::vector<std::optional<std::int64_t>> readings;
    for (const int index : packageInputs(kind, inputs)) {
        readings.push_back(kernelfiles::readIntegerAttribute(deviceDir + QStringLiteral("/temp") +
                                                             QString::number(index) +
                                                             QStringLiteral("_input")));
    }
    return hottestCelsius(readings);
}

} // namespace kmb
