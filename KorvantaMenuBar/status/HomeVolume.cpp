#include "status/HomeVolume.h"

#include "status/FallbackTexts.h"

#include <QFile>
#include <QStorageInfo>
#include <limits>
#include <sys/stat.h>
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

HomeVolumeReader::HomeVolumeReader(QString homePath)
    : m_homePath(std::move(homePath)), m_nativePath(QFile::encodeName(m_homePath))
{
}

std::optional<HomeVolumeStats> HomeVolumeReader::read() const
{
    if (m_nativePath.isEmpty())
        return std::nullopt;
    struct statvfs info {};
    if (::statvfs(m_nativePath.constData(), &info) != 0)
        return std::nullopt;
    HomeVolumeStats stats;
    stats.availableBlocks = info.f_bavail;
    stats.totalBlocks = info.f_blocks;
    stats.fragmentSize = info.f_frsize;
    struct stat home {};
    if (::stat(m_nativePath.constData(), &home) != 0) {
        m_names.reset();
        return stats;
    }
    if (!m_names || m_names->device != home.st_dev) {
        // Parses the mount table; the label comes from /dev/disk/by-label.
        Names names;
        names.device = home.st_dev;
        const QStorageInfo storage(m_homePath);
        if (storage.isValid()) {
            names.label = storage.name();
            names.mountPath = storage.rootPath();
        }
        m_names = std::move(names);
    }
    stats.label = m_names->label;
    stats.mountPath = m_names->mountPath;
    return stats;
}

} // namespace kmb
