// CleanupHistoryReader over a fake data directory: where it looks, what it refuses to read,
// and when it reads again.

#include "status/CleanupHistoryReader.h"
#include "ThreadIo.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <future>
#include <grp.h>
#include <gtest/gtest.h>
#include <limits>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using kmb::CleanupHistoryReader;

namespace {

constexpr std::int64_t kInt64Min = std::numeric_limits<std::int64_t>::min();

QByteArray fixture(const char* name)
{
    QFile file(QStringLiteral(KMB_FIXTURES_DIR "/history/") + QString::fromLatin1(name));
    if (!file.open(QIODevice::ReadOnly))
        ADD_FAILURE() << "cannot open fixture " << name;
    return file.readAll();
}

QByteArray xmlWithTotal(const QByteArray& integerText, const QByteArray& padding = {})
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
           "\t<key>padding</key>\n\t<string>" +
           padding + "</string>\n\t<key>totalCleanedBytes</key>\n\t<integer>" + integerText +
           "</integer>\n</dict>\n</plist>\n";
}

// A fake home: <home>/.local/share stands for the data directory.
class CleanupHistoryReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        m_dataDir = m_home.path() + QStringLiteral("/.local/share");
        m_folder = m_dataDir + QStringLiteral("/Korvanta");
        m_file = m_folder + QStringLiteral("/CleanupHistory.plist");
        ASSERT_TRUE(QDir().mkpath(m_dataDir));
    }

    QByteArray nativeFile() const { return QFile::encodeName(m_file); }

    void makeFolder() { ASSERT_TRUE(QDir().mkpath(m_folder)); }

    // Writes the history file in place (same inode when it exists), as a plain rewrite does.
    void writeInPlace(const QByteArray& bytes)
    {
        makeFolder();
        const int fd = ::open(nativeFile().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        ASSERT_EQ(::write(fd, bytes.constData(), bytes.size()), bytes.size());
        ::close(fd);
    }

    // Writes a new file beside it and renames it over the old one (a new inode).
    void replaceByRename(const QByteArray& bytes)
    {
        makeFolder();
        const QByteArray temporary = nativeFile() + ".new";
        const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, bytes.constData(), bytes.size()), bytes.size());
        ::close(fd);
        ASSERT_EQ(::rename(temporary.constData(), nativeFile().constData()), 0);
    }

    void symlinkTo(const QByteArray& target)
    {
        makeFolder();
        ASSERT_EQ(::symlink(target.constData(), nativeFile().constData()), 0)
            << std::strerror(errno);
    }

    QTemporaryDir m_home;
    QString m_dataDir;
    QString m_folder;
    QString m_file;
};

// Runs the read on another thread and waits at most `limit`. On a time-out, `unblock` is
// called to free the stuck read, and nullopt is returned.
std::optional<std::int64_t> readWithin(CleanupHistoryReader& reader,
                                       std::chrono::milliseconds limit,
                                       const std::function<void()>& unblock)
{
    std::promise<std::int64_t> result;
    std::future<std::int64_t> future = result.get_future();
    std::thread worker([&] { result.set_value(reader.readTotalCleanedBytes()); });
    if (future.wait_for(limit) != std::future_status::ready) {
        unblock();
        worker.join();
        return std::nullopt;
    }
    worker.join();
    return future.get();
}

void sleepUntilSettled(const QByteArray& path)
{
    // The reader reuses a result only for a file whose ctime is more than
    // kSettledAfterNanoseconds old; wait that long after the last change.
    struct stat status {};
    ASSERT_EQ(::stat(path.constData(), &status), 0);
    const auto changed = std::chrono::seconds(status.st_ctim.tv_sec) +
                         std::chrono::nanoseconds(status.st_ctim.tv_nsec);
    const auto settled = changed +
                         std::chrono::nanoseconds(CleanupHistoryReader::kSettledAfterNanoseconds) +
                         std::chrono::milliseconds(100);
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    if (settled > now)
        std::this_thread::sleep_for(settled - now);
}

TEST_F(CleanupHistoryReaderTest, EmptyDataDirReadsZero)
{
    CleanupHistoryReader reader{QString()};
    EXPECT_TRUE(reader.historyFilePath().isEmpty());
    EXPECT_EQ(reader.readTotalCleanedBytes(), 0);
}

TEST_F(CleanupHistoryReaderTest, LooksInTheKorvantaFolderOfTheDataDir)
{
    CleanupHistoryReader reader(m_dataDir);
    EXPECT_EQ(reader.historyFilePath(),
              m_dataDir + QStringLiteral("/Korvanta/CleanupHistory.plist"));
    writeInPlace(fixture("int_4096.xml"));
    EXPECT_EQ(reader.readTotalCleanedBytes(), 4096);
}

TEST_F(CleanupHistoryReaderTest, MissingFolderOrFileReadsZeroAndCreatesNothing)
{
    CleanupHistoryReader reader(m_dataDir);
    EXPECT_EQ(reader.readTotalCleanedBytes(), 0);
    EXPECT_EQ(reader.readTotalCleanedBytes(), 0);
    EXPECT_FALSE(QFileInfo::exists(m_folder));

    makeFolder();
    EXPECT_EQ(reader.readTotalCleanedBytes(), 0);
    EXPECT_FALSE(QFileInfo::exists(m_file));
    EXPECT_TRUE(QDir(m_folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());

    // Looked for again on every call.
    writeInPlace(fixture("int_negative_5.bplist"));
    EXPECT_EQ(reader.readTotalCleanedBytes(), -5);
    ASSERT_TRUE(QFile::remove(m_file));
    EXPECT_EQ(reader.readTotalCleanedBytes(), 0);
}

TEST_F(CleanupHistoryReaderTest, FixturesReadThroughTheFileWithZeroForNone)
{
    const std::vector<std::pair<const char*, std::int64_t>> cases = {
        {"int_4096.xml", 4096},
        {"int_4096.bplist", 4096},
        {"real_2048_0.xml", 2048},
        {"real_2048_0.bplist", 2048},
        {"real_2048_5.xml", 0},
        {"real_2048_5.bplist", 0},
        {"int_min.bplist", kInt64Min},
        {"int_2pow63.bplist", 0},
        {"string_1024.xml", 0},
        {"top_level_array.bplist", 0},
        {"missing_key.xml", 0},
        {"truncated.xml", 0},
        {"truncated.bplist", 0},
        {"empty.plist", 0},
        {"garbage.plist", 0},
        {"cycle.bplist", 0},
        {"realistic_history.bplist", 123456789},
    };
    CleanupHistoryReader reader(m_dataDir);
    for (const auto& [name, expected] : cases) {
        replaceByRename(fixture(name));
        EXPECT_EQ(reader.readTotalCleanedBytes(), expected) << name;
    }
}

TEST_F(CleanupHistoryReaderTest, FifoReadsZeroWithoutBlocking)
{
    makeFolder();
    ASSERT_EQ(::mkfifo(nativeFile().constData(), 0644), 0) << std::strerror(errno);
    CleanupHistoryReader reader(m_dataDir);
    const QByteArray fifo = nativeFile();
    auto unblock = [&] {
        // Opening the writing end lets a reader stuck in open() go on; closing it ends read().
        const int fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    };
    QElapsedTimer clock;
    clock.start();
    const std::optional<std::int64_t> total =
        readWithin(reader, std::chrono::milliseconds(2000), unblock);
    ASSERT_TRUE(total.has_value()) << "the read blocked on the FIFO";
    EXPECT_EQ(*total, 0);
    EXPECT_LT(clock.elapsed(), 1000);

    // The same through a symlink, with a writer holding the FIFO open and silent.
    ASSERT_TRUE(QFile::rename(m_file, m_folder + QStringLiteral("/pipe")));
    symlinkTo(QFile::encodeName(m_folder + QStringLiteral("/pipe")));
    const QByteArray pipePath = QFile::encodeName(m_folder + QStringLiteral("/pipe"));
    int keepOpen = ::open(pipePath.constData(), O_RDWR); // a writer that never writes
    ASSERT_GE(keepOpen, 0);
    auto closeWriter = [&] { // ends a read() stuck on the FIFO
        ::close(keepOpen);
        keepOpen = -1;
    };
    const std::optional<std::int64_t> linked =
        readWithin(reader, std::chrono::milliseconds(2000), closeWriter);
    if (keepOpen >= 0)
        closeWriter();
    ASSERT_TRUE(linked.has_value()) << "the read blocked on the FIFO behind a symlink";
    EXPECT_EQ(*linked, 0);
}

TEST_F(CleanupHistoryReaderTest, DirectoryReadsZero)
{
    makeFolder();
    ASSERT_TRUE(QDir().mkpath(m_file));
    CleanupHistoryReader reader(m_dataDir);
    EXPECT_EQ(reader.readTotalCleanedBytes(), 0);

    ASSERT_TRUE(QDir(m_file).removeRecursively());
    symlinkTo(QFile::encodeName(m_home.path()));
    EXPECT_EQ(reader.readTotalCleanedBytes(), 0);
}

TEST_F(CleanupHistoryReaderTest, DevicesReadZeroAtOnce)
{
    CleanupHistoryReader reader(m_dataDir);
    symlinkTo("/dev/zero");
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(readWithin(reader, std::chrono::milliseconds(2000), [] {}), 0);
    ASSERT_TRUE(QFile::remove(m_file));
    symlinkTo("/dev/null");
    EXPECT_EQ(readWithin(reader, std::chrono::milliseconds(2000), [] {}), 0);
    EXPECT_LT(clock.elapsed(), 1000);
}

TEST_F(CleanupHistoryReaderTest, SymlinksAreFollowedToRegularFilesOnly)
{
    CleanupHistoryReader reader(m_dataDir);
    const QString target = m_home.path() + QStringLiteral("/elsewhere.plist");
    {
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(fixture("int_4096.bplist"));
    }
    symlinkTo(QFile::encodeName(target));
    EXPECT_EQ(reader.readTotalCleanedBytes(), 4096);

    ASSERT_TRUE(QFile::remove(target)); // dangling now
    EXPECT_EQ(reader.readTotalCleanedBytes(), 0);

    ASSERT_TRUE(QFile::remove(m_file));
    symlinkTo(nativeFile()); // a link to itself
    EXPECT_EQ(reader.readTotalCleanedBytes(), 0);

    ASSERT_TRUE(QFile::remove(m_file));
    const QByteArray other = QFile::encodeName(m_folder + QStringLiteral("/other"));
    ASSERT_EQ(::symlink(nativeFile().constData(), other.constData()), 0);
    symlinkTo(other); // a loop of two
    EXPECT_EQ(reader.readTotalCleanedBytes(), 0);
}

// Root reads any file, so as root the read runs in a child that has given up root.
TEST_F(CleanupHistoryReaderTest, UnreadableFileReadsZero)
{
    writeInPlace(fixture("int_4096.xml"));
    ASSERT_EQ(::chmod(nativeFile().constData(), 0), 0);
    CleanupHistoryReader reader(m_dataDir);
    if (::geteuid() != 0) {
        EXPECT_EQ(reader.readTotalCleanedBytes(), 0);
        return;
    }
    // Let an unprivileged user reach the file (and be refused by its own mode).
    for (QString dir = m_folder; dir.startsWith(m_home.path()); dir = QFileInfo(dir).path())
        ASSERT_EQ(::chmod(QFile::encodeName(dir).constData(), 0755), 0);
    constexpr uid_t kNobody = 65534;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
            ::setresuid(kNobody, kNobody, kNobody) != 0)
            ::_exit(10);
        const int probe = ::open(nativeFile().constData(), O_RDONLY);
        if (probe >= 0 || errno != EACCES)
            ::_exit(11); // the setup did not make the file unreadable
        ::_exit(reader.readTotalCleanedBytes() == 0 ? 0 : 12);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: could not drop root, 11: file still readable, "
                                         "12: the reader did not read 0";
}

// A binary property list stretched to `size` bytes by a hole between its objects and its
// offset table; the file is sparse, so it costs no disk.
void writeStretchedBinary(const QByteArray& path, std::int64_t size)
{
    const QByteArray objects = QByteArray("bplist00\xd1\x01\x02", 11) +
                               QByteArray("\x5f\x10\x11totalCleanedBytes", 20) +
                               QByteArray("\x11\x10\x00", 3); // 4096
    const std::int64_t table = size - 32 - 3;
    QByteArray tail = QByteArray("\x08\x0b\x1f", 3) + QByteArray(6, '\0') + "\x01\x01";
    for (std::uint64_t field : {std::uint64_t{3}, std::uint64_t{0}, std::uint64_t(table)}) {
        for (int i = 7; i >= 0; --i)
            tail += static_cast<char>((field >> (8 * i)) & 0xFF);
    }
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, objects.constData(), objects.size()), objects.size());
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ASSERT_EQ(::pwrite(fd, tail.constData(), tail.size(), table), tail.size());
    ::close(fd);
    struct stat status {};
    ASSERT_EQ(::stat(path.constData(), &status), 0);
    ASSERT_EQ(status.st_size, size);
}

TEST_F(CleanupHistoryReaderTest, FilesLargerThan64MiBAreNotRead)
{
    makeFolder();
    CleanupHistoryReader reader(m_dataDir);

    writeStretchedBinary(nativeFile(), CleanupHistoryReader::kMaxFileBytes);
    EXPECT_EQ(reader.readTotalCleanedBytes(), 4096) << "a file of exactly 64 MiB is read";

    writeStretchedBinary(nativeFile(), CleanupHistoryReader::kMaxFileBytes + 1);
    const std::optional<std::uint64_t> before = kmb::test::bytesReadByThisThread();
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(reader.readTotalCleanedBytes(), 0);
    EXPECT_LT(clock.elapsed(), 200);
    const std::optional<std::uint64_t> after = kmb::test::bytesReadByThisThread();
    if (before && after) {
        EXPECT_LT(*after - *before, 64u * 1024) << "the oversized file was read";
    }

    ASSERT_EQ(::truncate(nativeFile().constData(), std::int64_t{1} << 40), 0); // 1 TiB hole
    EXPECT_EQ(reader.readTotalCleanedBytes(), 0);
}

TEST_F(CleanupHistoryReaderTest, RewriteIsSeenOnTheNextCall)
{
    CleanupHistoryReader reader(m_dataDir);
    writeInPlace(xmlWithTotal("4096"));
    EXPECT_EQ(reader.readTotalCleanedBytes(), 4096);
    writeInPlace(xmlWithTotal("8192"));
    EXPECT_EQ(reader.readTotalCleanedBytes(), 8192);
    writeInPlace(fixture("int_40000_two_bytes.bplist"));
    EXPECT_EQ(reader.readTotalCleanedBytes(), 40000);
    writeInPlace(xmlWithTotal("oops"));
    EXPECT_EQ(reader.readTotalCleanedBytes(), 0);
}

// Right after a read, a same-size rewrite whose mtime is put back may keep every field of the
// identity where file times advance in coarse ticks: a result read from a file changed so
// recently must not be kept. (Kernels with multigrain timestamps, 6.13 and later on ext4, xfs,
// btrfs and tmpfs, give a change after a stat() a fresh ctime, so there this passes even
// without the reader's settling rule; on older kernels it is that rule that makes it pass.)
TEST_F(CleanupHistoryReaderTest, SameSizeRewriteRightAfterAReadIsSeen)
{
    CleanupHistoryReader reader(m_dataDir);
    for (int round = 0; round < 20; ++round) {
        writeInPlace(xmlWithTotal("1111"));
        struct stat before {};
        ASSERT_EQ(::stat(nativeFile().constData(), &before), 0);
        EXPECT_EQ(reader.readTotalCleanedBytes(), 1111);

        const int fd = ::open(nativeFile().constData(), O_WRONLY);
        ASSERT_GE(fd, 0);
        const QByteArray whole = xmlWithTotal("2222");
        ASSERT_EQ(::pwrite(fd, whole.constData(), whole.size(), 0), whole.size());
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::futimens(fd, times), 0);
        ::close(fd);
        EXPECT_EQ(reader.readTotalCleanedBytes(), 2222) << "round " << round;
    }
}

TEST_F(CleanupHistoryReaderTest, ReplacedFileIsReadAgain)
{
    CleanupHistoryReader reader(m_dataDir);
    replaceByRename(xmlWithTotal("4096"));
    EXPECT_EQ(reader.readTotalCleanedBytes(), 4096);
    replaceByRename(xmlWithTotal("4097"));
    EXPECT_EQ(reader.readTotalCleanedBytes(), 4097);
    replaceByRename(fixture("int_3000000000_four_bytes.bplist"));
    EXPECT_EQ(reader.readTotalCleanedBytes(), 3000000000);
}

// The identity cache, observed through the kernel's count of bytes this thread has read: an
// unchanged file (once settled) is answered without reading it, and any change, even one
// that puts the mtime back, is read in the same call.
TEST_F(CleanupHistoryReaderTest, UnchangedFileIsAnsweredWithoutReadingIt)
{
    if (!kmb::test::bytesReadByThisThread())
        GTEST_SKIP() << "/proc/thread-self/io is not available: the identity cache cannot be "
                        "observed here (the re-read tests above still run)";
    const QByteArray padding(1024 * 1024, 'x');
    writeInPlace(xmlWithTotal("4096", padding));
    const qint64 size = QFileInfo(m_file).size();
    sleepUntilSettled(nativeFile());

    CleanupHistoryReader reader(m_dataDir);
    auto readCounted = [&](std::uint64_t* bytesRead) {
        const std::uint64_t before = *kmb::test::bytesReadByThisThread();
        const std::int64_t total = reader.readTotalCleanedBytes();
        *bytesRead = *kmb::test::bytesReadByThisThread() - before;
        return total;
    };
    std::uint64_t bytesRead = 0;
    EXPECT_EQ(readCounted(&bytesRead), 4096);
    EXPECT_GE(bytesRead, static_cast<std::uint64_t>(size)) << "the first call reads the file";
    EXPECT_EQ(readCounted(&bytesRead), 4096);
    EXPECT_LT(bytesRead, 64u * 1024) << "the unchanged file was read again";
    EXPECT_EQ(readCounted(&bytesRead), 4096);
    EXPECT_LT(bytesRead, 64u * 1024);

    // Same size, same inode, mtime put back: only the ctime tells, and it is enough.
    struct stat before {};
    ASSERT_EQ(::stat(nativeFile().constData(), &before), 0);
    {
        const int fd = ::open(nativeFile().constData(), O_WRONLY);
        ASSERT_GE(fd, 0);
        const QByteArray whole = xmlWithTotal("8192", padding);
        ASSERT_EQ(whole.size(), size);
        ASSERT_EQ(::pwrite(fd, whole.constData(), whole.size(), 0), whole.size());
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::futimens(fd, times), 0);
        ::close(fd);
    }
    EXPECT_EQ(readCounted(&bytesRead), 8192);
    EXPECT_GE(bytesRead, static_cast<std::uint64_t>(size));

    // A new file in its place.
    replaceByRename(xmlWithTotal("8193", padding));
    EXPECT_EQ(readCounted(&bytesRead), 8193);
    EXPECT_GE(bytesRead, static_cast<std::uint64_t>(size));

    // Gone, and back.
    ASSERT_TRUE(QFile::remove(m_file));
    EXPECT_EQ(reader.readTotalCleanedBytes(), 0);
    replaceByRename(xmlWithTotal("8194", padding));
    EXPECT_EQ(reader.readTotalCleanedBytes(), 8194);
}

} // namespace
