#include "status/CleanupHistoryReader.h"
#include "status/FileDescriptor.h"

#include "companion/KorvantaContract.h"
#include "status/PropertyList.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kmb {

namespace {

std::int64_t nanoseconds(const timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

bool sameTime(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Reads to the end of the file; nullopt on a read error or past maxBytes (the file may have
// grown since it was measured).
std::optional<QByteArray> readToEnd(int fd, std::int64_t expectedSize, std::int64_t maxBytes)
{
    QByteArray bytes;
    // One byte beyond the expected size, so that the end is seen without growing.
    bytes.resize(static_cast<qsizetype>(std::min(expectedSize, maxBytes) + 1));
    qsizetype used = 0;
    while (true) {
        if (used == bytes.size()) {
            const std::int64_t grown =
                std::min(static_cast<std::int64_t>(bytes.size()) * 2, maxBytes + 1);
            bytes.resize(static_cast<qsizetype>(grown));
        }
        const ssize_t got =
            ::read(fd, bytes.data() + used, static_cast<size_t>(bytes.size() - used));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt; // EAGAIN included: never wait for the file
        }
        if (got == 0)
            break;
        used += got;
        if (used > maxBytes)
            return std::nullopt;
    }
    bytes.truncate(used);
    return bytes;
}

} // namespace

bool CleanupHistoryReader::FileIdentity::operator==(const FileIdentity& other) const
{
    return device == other.device && inode == other.inode && size == other.size &&
           sameTime(modified, other.modified) && sameTime(changed, other.changed);
}

CleanupHistoryReader::CleanupHistoryReader(QString dataDir)
{
    if (dataDir.isEmpty())
        return;
    m_path = dataDir + u'/' + korvanta::historyFolderName() + u'/' + korvanta::historyFileName();
    m_nativePath = QFile::encodeName(m_path);
}

std::int64_t CleanupHistoryReader::readTotalCleanedBytes()
{
    if (m_nativePath.isEmpty())
        return 0;

    timespec readStart{};
    ::clock_gettime(CLOCK_REALTIME, &readStart);

    // Non-blocking: opening a FIFO, or a symlink to one, must not wait for a writer. O_NOCTTY
    // keeps a terminal device from becoming ours.
    const FileDescriptor file(
        ::open(m_nativePath.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat status {};
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size < 0 || status.st_size > kMaxFileBytes) {
        m_lastIdentity.reset();
        return 0;
    }

    const FileIdentity identity{status.st_dev, status.st_ino, status.st_size, status.st_mtim,
                                status.st_ctim};
    if (m_lastIdentity && *m_lastIdentity == identity)
        return m_lastTotal;
    m_lastIdentity.reset();

    const std::optional<QByteArray> bytes = readToEnd(file.get(), status.st_size, kMaxFileBytes);
    if (!bytes)
        return 0;
    const std::int64_t total = totalCleanedBytesFromPropertyList(*bytes).value_or(0);

    struct stat after {};
    const bool unchangedWhileRead =
        ::fstat(file.get(), &after) == 0 && FileIdentity{after.st_dev, after.st_ino, after.st_size,
                                                         after.st_mtim, after.st_ctim} == identity;
    const bool settled =
        nanoseconds(readStart) - nanoseconds(status.st_ctim) > kSettledAfterNanoseconds;
    if (unchangedWhileRead && settled) {
        m_lastIdentity = identity;
        m_lastTotal = total;
    }
    return total;
}

} // namespace kmb
