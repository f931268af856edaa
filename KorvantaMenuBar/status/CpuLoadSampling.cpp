#include "status/CpuLoadSampling.h"

#include "status/FallbackTexts.h"
#include "status/KernelFiles.h"

#include <algorithm>
#include <utility>

namespace kmb {

namespace {

// The aggregate line comes first; the rest of /proc/stat (per-CPU lines, the long "intr"
// line) is never needed.
constexpr qsizetype cpuStatLimit = 4096;
// user nice system idle iowait irq softirq steal; guest and guest_nice are already in user
// and nice. Kernels older than 2.6.11 stop earlier: missing fields count as 0.
constexpr int summedFields = 8;
constexpr int requiredFields = 4;
constexpr int idleField = 3;
constexpr int iowaitField = 4;

__extension__ typedef unsigned __int128 UInt128;

bool isSeparator(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

} // namespace

std::optional<CpuTimes> parseCpuStat(QByteArrayView stat)
{
    QByteArrayView line;
    qsizetype lineStart = 0;
    while (lineStart < stat.size()) {
        qsizetype lineEnd = stat.indexOf('\n', lineStart);
        if (lineEnd < 0)
            lineEnd = stat.size();
        const QByteArrayView candidate = stat.sliced(lineStart, lineEnd - lineStart);
        if (candidate.startsWith("cpu ") || candidate.startsWith("cpu\t")) {
            line = candidate;
            break;
        }
        lineStart = lineEnd + 1;
    }
    if (line.isEmpty())
        return std::nullopt;

    CpuTimes times;
    int field = 0;
    qsizetype pos = 4;
    while (field < summedFields) {
        while (pos < line.size() && isSeparator(line.at(pos)))
            ++pos;
        if (pos >= line.size())
            break;
        qsizetype end = pos;
        while (end < line.size() && !isSeparator(line.at(end)))
            ++end;
        const std::optional<std::uint64_t> ticks =
            kernelfiles::parseUInt64(line.sliced(pos, end - pos));
        pos = end;
        if (!ticks)
            return std::nullopt;
        if (__builtin_add_overflow(times.total, *ticks, &times.total))
            return std::nullopt;
        if (field == idleField || field == iowaitField)
            times.idle += *ticks; // cannot overflow: idle <= total
        ++field;
    }
    if (field < requiredFields)
        return std::nullopt;
    return times;
}

int loadPercent(std::uint64_t idleDelta, std::uint64_t totalDelta)
{
    if (totalDelta == 0 || idleDelta >= totalDelta)
        return 0;
    const UInt128 busy = totalDelta - idleDelta;
    const UInt128 rounded = (busy * 200 + totalDelta) / (UInt128(totalDelta) * 2);
    return int(std::min<UInt128>(rounded, 100));
}

std::optional<int> cpuLoadPercent(const CpuTimes& earlier, const CpuTimes& later)
{
    const std::uint64_t busyBefore = earlier.total - std::min(earlier.idle, earlier.total);
    const std::uint64_t busyAfter = later.total - std::min(later.idle, later.total);
    // iowait alone may step back a little, so idle is judged with iowait included.
    if (later.total < earlier.total || later.idle < earlier.idle || busyAfter < busyBefore)
        return std::nullopt;
    const std::uint64_t totalDelta = later.total - earlier.total;
    if (totalDelta == 0)
        return std::nullopt;
    return loadPercent(later.idle - earlier.idle, totalDelta);
}

std::optional<QString> CpuLoadTracker::next(const std::optional<CpuTimes>& sample)
{
    if (!sample) {
        m_baseline.reset();
        return fallback::placeholder();
    }
    const std::optional<CpuTimes> baseline = std::exchange(m_baseline, sample);
    if (!baseline)
        return fallback::placeholder();
    // A step backwards restarts from this sample and keeps the text shown, as a pass in
    // which no time passed does.
    const std::optional<int> percent = cpuLoadPercent(*baseline, *sample);
    if (!percent)
        return std::nullopt;
    return QString::number(*percent) + u'%';
}

CpuStatReader::CpuStatReader(QString procRoot) : m_file(procRoot + QStringLiteral("/stat")) {}

std::optional<CpuTimes> CpuStatReader::read() const
{
    const std::optional<QByteArray> data = m_file.read(cpuStatLimit);
    return data ? parseCpuStat(*data) : std::nullopt;
}

} // namespace kmb
