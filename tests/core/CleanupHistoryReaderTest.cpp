// CleanupHistoryReader on hostile paths in a fake data directory, and on rewrites of the file.

#include "status/CleanupHistoryReader.h"
#include "TestSupport.h"

#include <chrono>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <thread>

namespace {

using kmb::CleanupHistoryReader;

QByteArray xmlWithTotal(const QByteArray& total, const QByteArray& padding = {})
{
    return "<plist><dict><key>p</key><string>" + padding +
           "</string><key>totalCleanedBytes</key><integer>" + total + "</integer></dict></plist>";
}

// {totalCleanedBytes: 4096} with a hole between its objects and its offset table, so that the
// file is `size` bytes long and costs no disk.
void writeSparseBinary(const QByteArray& path, std::int64_t size)
{
    const QByteArray objects = QByteArray("bplist00\xd1\x01\x02\x5f\x10\x11totalCleanedBytes", 31) +
                               QByteArray("\x11\x10\x00", 3);
    const std::int64_t table = size - 32 - 3;
    QByteArray tail = QByteArray("\x08\x0b\x1f", 3) + QByteArray(6, '\0') + "\x01\x01";
    for (const std::uint64_t field : {std::uint64_t{3}, std::uint64_t{0}, std::uint64_t(table)}) {
        for (int i = 7; i >= 0; --i)
            tail += char((field >> (8 * i)) & 0xFF);
    }
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, objects.constData(), objects.size()), objects.size());
    ASSERT_EQ(::pwrite(fd, tail.constData(), tail.size(), table), tail.size());
    ::close(fd);
}

std::uint64_t bytesReadByThisThread()
{
    QFile io(QStringLiteral("/proc/thread-self/io"));
    EXPECT_TRUE(io.open(QIODevice::ReadOnly));
    for (const QByteArray& line : io.readAll().split('\n')) {
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toULongLong();
    }
    return 0;
}

struct Read {
    std::optional<std::int64_t> total; // none: still blocked after 10 s
    std::uint64_t bytesRead = 0;
};

// Reads on another thread, so that a read that blocks fails the test instead of hanging it;
// `unblock` then frees it.
Read readOnAThread(CleanupHistoryReader& reader, const std::function<void()>& unblock)
{
    Read read;
    std::promise<std::int64_t> promise;
    std::future<std::int64_t> future = promise.get_future();
    std::thread worker([&] {
        const std::uint64_t before = bytesReadByThisThread();
        const std::int64_t total = reader.readTotalCleanedBytes();
        read.bytesRead = bytesReadByThisThread() - before;
        promise.set_value(total);
    });
    const bool done = future.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!done)
        unblock();
    worker.join();
    if (done)
        read.total = future.get();
    return read;
}

struct HistoryPlace {
    kmb::test::FakeTree data;
    QString file = data.path(QStringLiteral("Korvanta/CleanupHistory.plist"));
    QByteArray native = QFile::encodeName(file);
    HistoryPlace() { QDir().mkpath(data.path(QStringLiteral("Korvanta"))); }
    void link(const QString& target) const
    {
        ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), native.constData()), 0);
    }
};

// Whatever stands at the history path and is not a regular file of at most 64 MiB reads 0 at
// once, without a byte of it read.
TEST(CleanupHistoryReader, HostilePathsReadZeroWithoutReading)
{
    int heldWriter = -1; // of the FIFO, open and silent
    const std::pair<const char*, std::function<void(HistoryPlace&)>> cases[] = {
        {"FIFO without a writer",
         [](HistoryPlace& h) { ASSERT_EQ(::mkfifo(h.native.constData(), 0644), 0); }},
        {"symlink to a FIFO with a silent writer",
         [&](HistoryPlace& h) {
             const QByteArray fifo = QFile::encodeName(h.data.path(QStringLiteral("fifo")));
             ASSERT_EQ(::mkfifo(fifo.constData(), 0644), 0);
             heldWriter = ::open(fifo.constData(), O_RDWR);
             h.link(QString::fromUtf8(fifo));
         }},
        {"symlink to /dev/zero", [](HistoryPlace& h) { h.link(QStringLiteral("/dev/zero")); }},
        {"symlink to itself", [](HistoryPlace& h) { h.link(h.file); }},
        {"loop of two symlinks",
         [](HistoryPlace& h) {
             h.link(h.file + ".other");
             ASSERT_TRUE(QFile::link(h.file, h.file + ".other"));
         }},
        {"dangling symlink", [](HistoryPlace& h) { h.link(h.file + ".gone"); }},
        {"directory", [](HistoryPlace& h) { ASSERT_TRUE(QDir().mkpath(h.file)); }},
        {"symlink to a directory", [](HistoryPlace& h) { h.link(h.data.root()); }},
        {"64 MiB and one byte",
         [](HistoryPlace& h) {
             writeSparseBinary(h.native, CleanupHistoryReader::kMaxFileBytes + 1);
         }},
        {"1 TiB", [](HistoryPlace& h) { writeSparseBinary(h.native, std::int64_t{1} << 40); }},
    };
    for (const auto& [name, make] : cases) {
        HistoryPlace place;
        make(place);
        CleanupHistoryReader reader(place.data.root());
        const Read read = readOnAThread(reader, [&] {
            const int fd = ::open(place.native.constData(), O_WRONLY | O_NONBLOCK);
            for (const int writer : {fd, std::exchange(heldWriter, -1)}) {
                if (writer >= 0)
                    ::close(writer);
            }
        });
        EXPECT_EQ(read.total, 0) << name << (read.total ? "" : ": the read blocked");
        EXPECT_LT(read.bytesRead, 64u * 1024) << name;
        if (heldWriter >= 0)
            ::close(std::exchange(heldWriter, -1));
    }
    const kmb::test::FakeTree empty;
    EXPECT_EQ(CleanupHistoryReader(QString()).readTotalCleanedBytes(), 0);
    EXPECT_EQ(CleanupHistoryReader(empty.root()).readTotalCleanedBytes(), 0);
    EXPECT_FALSE(QFileInfo::exists(empty.path(QStringLiteral("Korvanta")))); // nothing created
}

TEST(CleanupHistoryReader, LargestFileAndSymlinksToRegularFilesAreRead)
{
    HistoryPlace place;
    writeSparseBinary(place.native, CleanupHistoryReader::kMaxFileBytes);
    EXPECT_EQ(CleanupHistoryReader(place.data.root()).readTotalCleanedBytes(), 4096);
    ASSERT_TRUE(QFile::rename(place.file, place.data.path(QStringLiteral("elsewhere"))));
    place.link(place.data.path(QStringLiteral("elsewhere")));
    EXPECT_EQ(CleanupHistoryReader(place.data.root()).readTotalCleanedBytes(), 4096);
}

TEST(CleanupHistoryReader, UnreadableFileReadsZero)
{
    HistoryPlace place;
    place.data.write(QStringLiteral("Korvanta/CleanupHistory.plist"), xmlWithTotal("4096"));
    ASSERT_EQ(::chmod(place.native.constData(), 0), 0);
    kmb::test::openPathBelow(place.data.root(), place.file);
    CleanupHistoryReader reader(place.data.root());
    EXPECT_EQ(kmb::test::exitCodeAsNobody([&] {
                  if (::open(place.native.constData(), O_RDONLY) >= 0)
                      return 2; // the setup left the file readable
                  return reader.readTotalCleanedBytes() == 0 ? 0 : 1;
              }),
              0);
}

// Rewrite helpers: in place (same inode), or a new file renamed over the old one.
void writeInPlace(const QByteArray& path, const QByteArray& bytes, const timespec* mtime = nullptr)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.constData(), bytes.size()), bytes.size());
    if (mtime) {
        const timespec times[2] = {*mtime, *mtime};
        ASSERT_EQ(::futimens(fd, times), 0);
    }
    ::close(fd);
}

void replace(const QByteArray& path, const QByteArray& bytes)
{
    writeInPlace(path + ".new", bytes);
    ASSERT_EQ(::rename((path + ".new").constData(), path.constData()), 0);
}

timespec modified(const QByteArray& path)
{
    struct stat status {};
    EXPECT_EQ(::stat(path.constData(), &status), 0);
    return status.st_mtim;
}

// Every rewrite is seen on the next read: a new mtime, a new inode, and a same-size rewrite
// whose mtime is put back, where only the ctime tells (right after a read, where coarse file
// times may not have moved yet, and once the old file has settled).
TEST(CleanupHistoryReader, RewritesAreSeenOnTheNextRead)
{
    HistoryPlace place;
    CleanupHistoryReader reader(place.data.root());
    for (int round = 0; round < 10; ++round) {
        writeInPlace(place.native, xmlWithTotal("1111"));
        const timespec before = modified(place.native);
        EXPECT_EQ(reader.readTotalCleanedBytes(), 1111);
        writeInPlace(place.native, xmlWithTotal("2222"), &before);
        EXPECT_EQ(reader.readTotalCleanedBytes(), 2222) << "round " << round;
    }
    const QByteArray padding(1 << 20, 'x');
    writeInPlace(place.native, xmlWithTotal("4096", padding));
    // Wait, as the reader does, for the file's ctime to be older than the settling time.
    std::this_thread::sleep_for(
        std::chrono::nanoseconds(CleanupHistoryReader::kSettledAfterNanoseconds) +
        std::chrono::milliseconds(100));
    EXPECT_EQ(reader.readTotalCleanedBytes(), 4096);
    EXPECT_EQ(reader.readTotalCleanedBytes(), 4096);
    const timespec settled = modified(place.native);
    writeInPlace(place.native, xmlWithTotal("8192", padding), &settled);
    EXPECT_EQ(reader.readTotalCleanedBytes(), 8192);
    replace(place.native, xmlWithTotal("8193", padding));
    EXPECT_EQ(reader.readTotalCleanedBytes(), 8193);
    writeInPlace(place.native, xmlWithTotal("oops"));
    EXPECT_EQ(reader.readTotalCleanedBytes(), 0);
    ASSERT_TRUE(QFile::remove(place.file));
    EXPECT_EQ(reader.readTotalCleanedBytes(), 0);
    replace(place.native, xmlWithTotal("-5"));
    EXPECT_EQ(reader.readTotalCleanedBytes(), -5);
}

} // namespace
