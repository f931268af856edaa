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

    // One stat per pass while the file stays as it was read last.
    const std::optional<FileIdentity> named = regularFileIdentity(m_nativePath);
    if (!named || named->size < 0 || named->size > kMaxFileBytes) {
        m_lastIdentity.reset();
        return 0;
    }
    if (m_lastIdentity && *m_lastIdentity == *named)
        return m_lastTotal;
    m_lastIdentity.reset();

    // What counts from here on is the file that was opened, whatever the path names now.
    BoundedFile file(m_nativePath);
    if (!file.isOpen() || file.status().st_size < 0)
        return 0;
    const FileIdentity identity = FileIdentity::of(file.status());

    const FileBytes bytes = file.readAll(kMaxFileBytes);
    if (!bytes.bytes)
        return 0;
    const std::int64_t total = totalCleanedBytesFromPropertyList(*bytes.bytes).value_or(0);

    const bool unchangedWhileRead = file.currentIdentity() == identity;
    const bool settled =
        nanoseconds(readStart) - nanoseconds(identity.changed) > kSettledAfterNanoseconds;
    if (unchangedWhileRead && settled) {
        m_lastIdentity = identity;
        m_lastTotal = total;
    }
    return total;
}

} // namespace kmb
