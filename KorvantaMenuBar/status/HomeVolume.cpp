#include "status/HomeVolume.h"

#include <QFile>
#include <QFileInfo>
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

VolumeReading homeVolumeReading(const HomeVolumeStats& stats)
{
    return {volumeDisplayName(stats.names),
            saturatedBytes(stats.availableBlocks, stats.fragmentSize),
            saturatedBytes(stats.totalBlocks, stats.fragmentSize)};
}

HomeVolumeReader::HomeVolumeReader(QString homePath, QString procRoot, QString fileSystemRoot)
    : m_homePath(std::move(homePath)), m_procRoot(std::move(procRoot)),
      m_fileSystemRoot(std::move(fileSystemRoot)), m_nativePath(QFile::encodeName(m_homePath))
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
        // The mount table names mount points with symlinks resolved.
        const QString path = QFileInfo(m_homePath).canonicalFilePath();
        m_names = Names{home.st_dev, path.isEmpty()
                                         ? VolumeNames{}
                                         : readVolumeNames(path, m_procRoot, m_fileSystemRoot)};
    }
    stats.names = m_names->names;
    return stats;
}

} // namespace kmb
