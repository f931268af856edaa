#pragma once

#include "status/StatusSampler.h"

#include <QString>
#include <cstdint>
#include <optional>

namespace kmb {

// One statvfs of the home directory plus the names of the filesystem holding it.
struct HomeVolumeStats {
    std::uint64_t availableBlocks = 0; // f_bavail: what an unprivileged user may use
    std::uint64_t totalBlocks = 0;     // f_blocks
    std::uint64_t fragmentSize = 0;    // f_frsize, the unit of both counts
    QString label;                     // filesystem label; empty when it has none
    QString mountPath;                 // "/", "/home", ...
};

// blocks × unit as a byte count, saturating at the int64 limit.
std::int64_t saturatedBytes(std::uint64_t blocks, std::uint64_t unit);

// The label names the volume, else its mount point, else the placeholder name.
QString homeVolumeName(const QString& label, const QString& mountPath);

VolumeReading homeVolumeReading(const HomeVolumeStats& stats);

class HomeVolumeReader {
public:
    explicit HomeVolumeReader(QString homePath);
    // nullopt when the volume cannot be queried.
    std::optional<HomeVolumeStats> read() const;

private:
    QString m_homePath;
};

} // namespace kmb
