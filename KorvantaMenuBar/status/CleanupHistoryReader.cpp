#include "status/CleanupHistoryReader.h"

#include "companion/KorvantaContract.h"
#include "status/PropertyList.h"

#include <QFile>

namespace kmb {

namespace {

std::int64_t nanoseconds(const timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

} // namespace

CleanupHistoryReader::CleanupHistoryReader(QString dataDir, Clock clock)
    : m_clock(clock ? std::move(clock) : [] { return std::chrono::system_clock::now(); })
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

    const std::int64_t readStart =
        std::chrono::duration_cast<std::chrono::nanoseconds>(m_clock().time_since_epoch()).count();

    // One stat per pass while the file stays as it was read last.
    const std::optional<FileIdentity> named = regularFileIdentity(m_nativePath);
    if (!named || named->size < 0 || named->size > kMaxFileBytes) {
        m_lastIdentity.reset();
        return m_lastGiven = 0;
    }
    if (m_lastIdentity && *m_lastIdentity == *named)
        return m_lastGiven = m_lastTotal;
    m_lastIdentity.reset();

    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        if (const std::optional<std::int64_t> total = readOnce(readStart))
            return m_lastGiven = *total;
    }
    return m_lastGiven;
}

std::optional<std::int64_t> CleanupHistoryReader::readOnce(std::int64_t readStartNanoseconds)
{
    // What counts from here on is the file that was opened, whatever the path names now.
    BoundedFile file(m_nativePath);
    if (!file.isOpen() || file.status().st_size < 0)
        return 0;
    const FileIdentity identity = FileIdentity::of(file.status());
    const FileBytes bytes = file.readAll(kMaxFileBytes);
    if (!bytes.bytes)
        return 0;
    const std::int64_t total = totalCleanedBytesFromPropertyList(*bytes.bytes).value_or(0);
    if (file.currentIdentity() != identity)
        return std::nullopt;
    if (readStartNanoseconds - nanoseconds(identity.changed) > kSettledAfterNanoseconds) {
        m_lastIdentity = identity;
        m_lastTotal = total;
    }
    return total;
}

} // namespace kmb
