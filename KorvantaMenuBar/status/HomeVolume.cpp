#include "status/HomeVolume.h"

#include "status/FallbackTexts.h"

#include <QFile>
#include <QStorageInfo>
#include <limits>
#include <sys/statvfs.h>

namespace kmb {

std::int64_t saturatedBytes(std::uint64_t blocks, std::uint64_t unit)
{
    constexpr auto limit = std::uint64_t(std::numeric_limits<std::int64_t>::max());
    std::uint64_t bytes = 0;
    if (__builtin_mul_overflow(blocks, unit, &bytes) || bytes > limit)
        return std::int64_t(limit);
    return std::int64_t(bytes);
}

QString homeVolumeName(const QString& label, const QString& mountPath)
{
    if (!label.isEmpty())
        return label;
    if (!mountPath.isEmpty())
        return mountPath;
    return fallback::diskName();
}

VolumeReading homeVolumeReading(const HomeVolumeStats& stats)
{
    return {homeVolumeName(stats.label, stats.mountPath),
            saturatedBytes(stats.availableBlocks, stats.fragmentSize),
            saturatedBytes(stats.totalBlocks, stats.fragmentSize)};
}

HomeVolumeReader::HomeVolumeReader(QString homePath) : m_homePath(std::move(homePath)) {}

std::optional<HomeVolumeStats> HomeVolumeReader::read() const
{
    if (m_homePath.isEmpty())
        return std::nullopt;
    struct statvfs info {};
    if (::statvfs(QFile::encodeName(m_homePath).constData(), &info) != 0)
        return std::nullopt;
    HomeVolumeStats stats;
    stats.availableBlocks = info.f_bavail;
    stats.totalBlocks = info.f_blocks;
    stats.fragmentSize = info.f_frsize;
    // Parses the mount table; the label comes from /dev/disk/by-label.
    const QStorageInfo storage(m_homePath);
    if (storage.isValid()) {
        stats.label = storage.name();
        stats.mountPath = storage.rootPath();
    }
    return stats;
}

} // namespace kmb
