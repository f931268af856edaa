#pragma once

#include "status/BoundedFile.h"

#include <QByteArray>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <sys/types.h>

namespace kmb {

// Reads Korvanta's cleanup-history total from
// <dataDir>/Korvanta/CleanupHistory.plist. Never writes the file, never creates the folder.
//
// Every failure reads as 0 and none blocks: the file is read through BoundedFile (opened
// without waiting, checked with fstat on that descriptor, a regular file within
// kMaxFileBytes; a FIFO, device or directory, or a symlink to one, gives 0 at once); a file
// larger than kMaxFileBytes gives 0 without being read; a missing, unreadable or looping path
// gives 0. The bytes are parsed by totalCleanedBytesFromPropertyList (PropertyList.h).
//
// Each call looks at the file's identity (device, inode, size, mtime and ctime to the
// nanosecond) with one stat of the path. When that identity equals the one of the last read,
// the last result is given without opening the file; otherwise the file is opened and read
// again in the same call. A result is only remembered when the file's ctime was more than
// kSettledAfterNanoseconds older than the moment of the read (file times can be coarse: a
// rewrite within the same tick as the read could otherwise keep the old identity) and the
// identity of the open file did not change while it was read.
//
// A file whose identity changes while it is read (rewritten in place) may have given a mix
// of two versions that parses all the same: it is read again, up to kReadAttempts times in
// all, and a file that never holds still gives the total given last (the next call tries
// again).
//
// Not thread-safe: one reader belongs to one sampler, called on one thread.
class CleanupHistoryReader {
public:
    static constexpr std::int64_t kMaxFileBytes = std::int64_t{64} * 1024 * 1024;
    static constexpr std::int64_t kSettledAfterNanoseconds = 2'000'000'000;
    static constexpr int kReadAttempts = 3;
    // The wall clock that file times are compared with.
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    // dataDir stands for Application Support; production passes the first
    // QStandardPaths::GenericDataLocation. An empty dataDir reads 0. No clock: the system clock.
    explicit CleanupHistoryReader(QString dataDir, Clock clock = {});

    // The total, 0 whenever the file cannot give one.
    std::int64_t readTotalCleanedBytes();

private:
    // One open and read; nullopt when the file changed while it was read.
    std::optional<std::int64_t> readOnce(std::int64_t readStartNanoseconds);

    Clock m_clock;
    QString m_path;
    QByteArray m_nativePath;
    std::optional<FileIdentity> m_lastIdentity; // set only while m_lastTotal may be reused
    std::int64_t m_lastTotal = 0;
    std::int64_t m_lastGiven = 0;
};

} // namespace kmb
