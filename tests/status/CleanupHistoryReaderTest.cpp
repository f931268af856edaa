// CleanupHistoryReader on hostile paths in a fake data directory, and what it keeps between reads.

#include "status/CleanupHistoryReader.h"
#include "TestSupport.h"

#include <QtEndian>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>

namespace {

using kmb::CleanupHistoryReader;
using namespace std::chrono_literals;

QByteArray xmlWithTotal(const QByteArray& total, qsizetype padding = 0)
{
    return "<plist><dict><key>p</key><string>" + QByteArray(padding, 'x') +
           "</string><key>totalCleanedBytes</key><integer>" + total + "</integer></dict></plist>";
}

// {totalCleanedBytes: 4096}, `size` bytes long: the hole before its offset table costs no disk.
void writeSparseBinary(const QString& path, qint64 size)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QByteArray("bplist00\xd1\x01\x02\x5f\x10\x11totalCleanedBytes\x11\x10\x00", 34));
    QByteArray tail = QByteArray::fromHex("080b1f 000000000000 0101 0000000000000003") +
                      QByteArray(16, '\0'); // table, trailer: sizes, count, top, table offset
    qToBigEndian<quint64>(size - 35, tail.data() + 27);
    ASSERT_TRUE(file.seek(size - 35));
    ASSERT_EQ(file.write(tail), 35);
}

std::uint64_t bytesReadByThisThread()
{
    QFile io(QStringLiteral("/proc/thread-self/io"));
    EXPECT_TRUE(io.open(QIODevice::ReadOnly));
    const QByteArray text = io.readAll(); // "rchar: N" is its first line
    return text.mid(6, text.indexOf('\n') - 6).trimmed().toULongLong();
}

struct HistoryPlace {
    kmb::test::FakeTree data;
    QString file = data.path("Korvanta/CleanupHistory.plist");
    QByteArray native = QFile::encodeName(file);
    HistoryPlace() { QDir().mkpath(data.path("Korvanta")); }
    void link(const QString& target) const
    {
        ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), native.constData()), 0);
    }
};

// Whatever stands at the history path and is not a regular file of at most 64 MiB reads 0 at
// once, without a byte of it read (a read that blocks fails by ctest's timeout); a regular
// file is read, also through a symlink.
TEST(CleanupHistoryReader, HostilePathsReadZeroWithoutReading)
{
    const auto expectRead = [](const HistoryPlace& place, std::int64_t total, const char* what) {
        const std::uint64_t before = bytesReadByThisThread();
        EXPECT_EQ(CleanupHistoryReader(place.data.root()).readTotalCleanedBytes(), total) << what;
        EXPECT_EQ(bytesReadByThisThread() - before > 64 * 1024, total != 0) << what;
    };
    const HistoryPlace fifo, zero, loop, large, link;
    ASSERT_EQ(::mkfifo(fifo.native.constData(), 0644), 0);
    expectRead(fifo, 0, "FIFO without a writer");
    zero.link("/dev/zero");
    expectRead(zero, 0, "symlink to /dev/zero");
    loop.link(loop.file + ".other");
    ASSERT_TRUE(QFile::link(loop.file, loop.file + ".other"));
    expectRead(loop, 0, "loop of two symlinks");
    writeSparseBinary(large.file, (64 << 20) + 1);
    expectRead(large, 0, "64 MiB and one byte");
    writeSparseBinary(link.data.path("elsewhere"), 64 << 20);
    link.link(link.data.path("elsewhere"));
    expectRead(link, 4096, "symlink to a file of 64 MiB");
    const kmb::test::FakeTree empty;
    EXPECT_EQ(CleanupHistoryReader(QString()).readTotalCleanedBytes(), 0);
    EXPECT_EQ(CleanupHistoryReader(empty.root()).readTotalCleanedBytes(), 0);
    EXPECT_FALSE(QFileInfo::exists(empty.path("Korvanta"))); // nothing created
}

// Writes `bytes` over the file in place; with `keepMtime`, puts its mtime back. First waits
// until the clock that file times come from has moved past the file's ctime, so that the
// change shows in the ctime.
void rewrite(const QByteArray& path, const QByteArray& bytes, bool keepMtime = false)
{
    struct stat old {};
    ASSERT_EQ(::stat(path.constData(), &old), 0);
    timespec now{};
    const QDeadlineTimer deadline(5000);
    do {
        std::this_thread::yield();
        ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    } while (std::pair(now.tv_sec, now.tv_nsec) <=
                 std::pair(old.st_ctim.tv_sec, old.st_ctim.tv_nsec) &&
             !deadline.hasExpired());
    const int fd = ::open(path.constData(), O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.constData(), bytes.size()), bytes.size());
    const timespec times[2] = {old.st_atim, keepMtime ? old.st_mtim : timespec{0, UTIME_NOW}};
    ASSERT_EQ(::futimens(fd, times), 0);
    ::close(fd);
}

// A total is kept only for a file whose ctime was more than 2 s older than the read (file times
// are coarse: a rewrite within the same tick as the read would keep them), and given again,
// without a read, while the file stays the same; any change is read at once.
TEST(CleanupHistoryReader, KeepsATotalOnlyForASettledUnchangedFile)
{
    HistoryPlace place;
    place.data.write("Korvanta/CleanupHistory.plist", "");
    std::chrono::system_clock::time_point now;
    CleanupHistoryReader reader(place.data.root(), [&] { return now; });
    const struct {
        const char* what;
        const char* rewrittenTotal; // none: unchanged
        bool keepMtime;
        std::chrono::nanoseconds sinceChange;
        std::int64_t total;
        bool read;
    } steps[] = {
        {"2 s after the change: read", "4096", false, 2s, 4096, true},
        {"2 s and 1 ns after: not kept before", nullptr, false, 2s + 1ns, 4096, true},
        {"unchanged since: kept", nullptr, false, 1h, 4096, false},
        {"rewritten, same size, mtime put back", "8192", true, 1h, 8192, true},
        {"kept", nullptr, false, 1h, 8192, false},
        {"unparsable", "oops", false, 1h, 0, true},
        {"kept", nullptr, false, 1h, 0, false},
    };
    for (const auto& step : steps) {
        if (step.rewrittenTotal)
            rewrite(place.native, xmlWithTotal(step.rewrittenTotal, 1 << 20), step.keepMtime);
        struct stat status {};
        ASSERT_EQ(::stat(place.native.constData(), &status), 0);
        now = std::chrono::system_clock::time_point(
            std::chrono::seconds(status.st_ctim.tv_sec) +
            std::chrono::nanoseconds(status.st_ctim.tv_nsec) + step.sinceChange);
        const std::uint64_t before = bytesReadByThisThread();
        EXPECT_EQ(reader.readTotalCleanedBytes(), step.total) << step.what;
        EXPECT_EQ(bytesReadByThisThread() - before > 1u << 20, step.read) << step.what;
    }
}

} // namespace
