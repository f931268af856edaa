#pragma once

#include "status/StatusSampler.h"
#include "status/VolumeNames.h"

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
    VolumeNames names;
};

// blocks × unit as a byte count, saturating at the int64 limit.
std::int64_t saturatedBytes(std::uint64_t blocks, std::uint64_t unit);

VolumeReading homeVolumeReading(const HomeVolumeStats& stats);

// Each read is one statvfs and one stat of the home directory. The names come from the mount
// table, /dev/disk/by-label and os-release, which are looked at again only when the
// directory's device changes (another volume mounted there, or the home moved): parsing the
// mount table is by far the dearest part of a pass, and its answer does not change from one
// pass to the next. procRoot and fileSystemRoot are "/proc" and "/" on this machine.
class HomeVolumeReader {
public:
    HomeVolumeReader(QString homePath, QString procRoot, QString fileSystemRoot);
    // nullopt when the volume cannot be queried.
    std::optional<HomeVolumeStats> read() const;

private:
    struct Names {
        dev_t device = 0;
        VolumeNames names;
    };

    QString m_homePath;
    QString m_procRoot;
    QString m_fileSystemRoot;
    QByteArray m_nativePath;
    mutable std::optional<Names> m_names; // of the device the home was last seen on
};

} // namespace kmb
