#include "status/MemorySampling.h"

#include "status/KernelFiles.h"

#include <limits>

namespace kmb {

namespace {

// meminfo is about 1.5 KiB; the limit leaves room for kernels with many more lines.
constexpr qsizetype memInfoLimit = 64 * 1024;
constexpr std::uint64_t bytesPerKb = 1024;

// "   123456 kB" -> 123456; anything else, or a size whose byte count exceeds 64 bits, is
// unusable.
std::optional<std::uint64_t> parseKbValue(QByteArrayView text)
{
    text = text.trimmed();
    if (!text.endsWith("kB"))
        return std::nullopt;
    text.chop(2);
    const std::optional<std::uint64_t> kb = kernelfiles::parseUInt64(text);
    if (!kb || *kb > std::numeric_limits<std::uint64_t>::max() / bytesPerKb)
        return std::nullopt;
    return kb;
}

} // namespace

MemInfoReading parseMemInfo(QByteArrayView meminfo)
{
    MemInfoReading reading;
    qsizetype lineStart = 0;
    while (lineStart < meminfo.size()) {
        qsizetype lineEnd = meminfo.indexOf('\n', lineStart);
        if (lineEnd < 0)
            lineEnd = meminfo.size();
        const QByteArrayView line = meminfo.sliced(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;

        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArrayView key = line.first(colon);
        std::optional<std::uint64_t>* field = nullptr;
        if (key == "MemAvailable")
            field = &reading.memAvailableKb;
        else if (key == "MemFree")
            field = &reading.memFreeKb;
        else if (key == "Inactive(file)")
            field = &reading.inactiveFileKb;
        // The first occurrence of a key counts.
        if (field && !*field)
            *field = parseKbValue(line.sliced(colon + 1));
    }
    return reading;
}

std::optional<std::uint64_t> availableMemoryBytes(const MemInfoReading& reading)
{
    if (reading.memAvailableKb)
        return *reading.memAvailableKb * bytesPerKb;
    if (!reading.memFreeKb)
        return std::nullopt;
    // Kernels before 3.14: free plus the page cache that can be dropped. Free alone still
    // beats no figure when Inactive(file) is missing too.
    const std::uint64_t kb = *reading.memFreeKb + reading.inactiveFileKb.value_or(0);
    if (kb < *reading.memFreeKb || kb > std::numeric_limits<std::uint64_t>::max() / bytesPerKb)
        return std::nullopt;
    return kb * bytesPerKb;
}

MemInfoReader::MemInfoReader(QString procRoot) : m_file(procRoot + QStringLiteral("/meminfo")) {}

MemInfoReading MemInfoReader::read() const
{
    const std::optional<QByteArray> data = m_file.read(memInfoLimit);
    return data ? parseMemInfo(*data) : MemInfoReading{};
}

} // namespace kmb
