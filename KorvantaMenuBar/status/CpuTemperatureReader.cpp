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

std::optional<int> hottestInputCelsius(const std::vector<QString>& files)
{
    std::vector<std::optional<std::int64_t>> readings;
    readings.reserve(files.size());
    for (const QString& file : files)
        readings.push_back(kernelfiles::readIntegerAttribute(file));
    return hottestCelsius(readings);
}

std::optional<int> hottestInputCelsius(std::vector<KeptOpenFile>& files)
{
    std::vector<std::optional<std::int64_t>> readings;
    readings.reserve(files.size());
    for (KeptOpenFile& file : files)
        readings.push_back(kernelfiles::attributeInteger(file.read(kernelfiles::attributeLimit)));
    return hottestCelsius(readings);
}

} // namespace

CpuTemperatureReader::CpuTemperatureReader(QString sysRoot, RediscoveryGate::Clock clock)
    : m_hwmonDir(sysRoot + QStringLiteral("/class/hwmon")),
      m_thermalDir(sysRoot + QStringLiteral("/class/thermal")),
      m_gate({m_hwmonDir, m_thermalDir}, std::move(clock))
{
}

std::optional<int> CpuTemperatureReader::readPackageCelsius() const
{
    if (m_chosenInputs.empty()) {
        if (!m_gate.searchDue())
            return std::nullopt;
        return discover();
    }
    if (m_readsSinceDiscovery < kRediscoverAfterReads) {
        ++m_readsSinceDiscovery;
        if (const std::optional<int> celsius = hottestInputCelsius(m_chosenInputs))
            return celsius;
    }
    // The source stopped giving a reading, or it is time to look for a better one: search
    // now, so that a renumbered or replaced device is shown in this same pass.
    m_gate.searching();
    return discover();
}

std::optional<int> CpuTemperatureReader::discover() const
{
    m_readsSinceDiscovery = 0;
    m_chosenInputs.clear();
    // Thermal zones are only looked at when no hwmon device gives a reading.
    for (auto list :
         {&CpuTemperatureReader::listHwmonSources, &CpuTemperatureReader::listThermalZoneSources}) {
        std::vector<TemperatureSource> sources = (this->*list)();
        orderTemperatureSources(sources);
        for (const TemperatureSource& source : sources) {
            std::vector<QString> files = inputFiles(source);
            if (const std::optional<int> celsius = hottestInputCelsius(files)) {
                for (const QString& file : files)
                    m_chosenInputs.emplace_back(file);
                return celsius;
            }
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

std::vector<QString> CpuTemperatureReader::inputFiles(const TemperatureSource& source) const
{
    if (isThermalZone(source.kind))
        return {m_thermalDir + u'/' + source.dirName + QStringLiteral("/temp")};
    const QString deviceDir = m_hwmonDir + u'/' + source.dirName;
    std::vector<TemperatureInput> inputs;
    for (const QString& file : kernelfiles::listEntries(deviceDir, QStringLiteral("temp"))) {
        const std::optional<int> index = inputIndex(file);
        if (!index)
            continue;
        const QString labelPath = deviceDir + QStringLiteral("/temp") + QString::number(*index) +
                                  QStringLiteral("_label");
        inputs.push_back({*index, kernelfiles::readAttribute(labelPath).value_or(QString())});
    }
    std::vector<QString> files;
    for (const int index : packageInputs(source.kind, inputs))
        files.push_back(deviceDir + QStringLiteral("/temp") + QString::number(index) +
                        QStringLiteral("_input"));
    return files;
}

} // namespace kmb
