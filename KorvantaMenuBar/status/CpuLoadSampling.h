#pragma once

#include "status/BoundedFile.h"

#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <optional>

namespace kmb {

// The aggregate "cpu" line of /proc/stat, in clock ticks.
struct CpuTimes {
    std::uint64_t total = 0; // user+nice+system+idle+iowait+irq+softirq+steal
    std::uint64_t idle = 0;  // idle+iowait
};

// Finds the aggregate "cpu" line; nullopt when missing, malformed or overflowing.
std::optional<CpuTimes> parseCpuStat(QByteArrayView stat);

// 100 × (1 − idleDelta/totalDelta), rounded to nearest (halves up), clamped to 0–100.
// totalDelta must not be 0.
int loadPercent(std::uint64_t idleDelta, std::uint64_t totalDelta);

// Load between two samples. nullopt when no time passed or a counter went backwards (CPU
// hotplug takes an offline CPU's ticks out of the sums).
std::optional<int> cpuLoadPercent(const CpuTimes& earlier, const CpuTimes& later);

// Turns successive samples into the load text. No earlier sample, or an unreadable one,
// reads "—"; nullopt means keep the text shown.
class CpuLoadTracker {
public:
    std::optional<QString> next(const std::optional<CpuTimes>& sample);

private:
    std::optional<CpuTimes> m_baseline;
};

class CpuStatReader {
public:
    explicit CpuStatReader(QString procRoot);
    std::optional<CpuTimes> read() const;

private:
    mutable KeptOpenFile m_file;
};

} // namespace kmb
