#pragma once

#include "status/StatusSampler.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>
#include <sys/types.h>

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

// Each read is one statvfs and one stat of the home directory. The names come from the mount
// table and /dev/disk/by-label, which are looked at again only when the directory's device
// changes (another volume mounted there, or the home moved): parsing the mount table is by far
// the dearest part of a pass, and its answer does not change from one pass to the next.
class HomeVolumeReader {
public:
    explicit HomeVolumeReader(QString homePath);
    // nullopt when the volume cannot be queried.
    std::optional<HomeVolumeStats> read() const;

private:
    struct Names {
        dev_t device = 0;
        QString label;
        QString mountPath;
    };

    QString m_homePath;
    QByteArray m_nativePath;
    mutable std::optional<Names> m_names; // of the device the home was last seen on
};

} // namespace kmb
