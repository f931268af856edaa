// CleanupHistoryReader while another thread keeps rewriting the history file: every total it
// gives must be one that was written, or 0 for a file caught half-written. Never a number
// made of two writes.

#include "status/CleanupHistoryReader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

QByteArray xmlHistory(std::int64_t total)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
           "\t<key>totalCleanedBytes</key>\n\t<integer>" +
           QByteArray::number(total) + "</integer>\n</dict>\n</plist>\n";
}

// {"totalCleanedBytes": total} in the binary encoding, the integer as narrow as it fits, so
// that files of different totals differ in length and layout.
QByteArray binaryHistory(std::int64_t total)
{
    QByteArray integer;
    int width = 1;
    while (width < 8 && (total < 0 || std::uint64_t(total) >> (8 * width) != 0))
        width *= 2;
    integer.append(char(0x10 | (width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3)));
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8)
        integer.append(char((std::uint64_t(total) >> shift) & 0xff));

    QByteArray body = "bplist00";
    const char dict[] = {char(0xd1), 1, 2};
    const std::vector<int> offsets = {int(body.size()), int(body.size()) + 3,
                                      int(body.size()) + 3 + 20};
    body.append(dict, 3);
    body.append("\x5f\x10\x11totalCleanedBytes", 20);
    body.append(integer);
    const int table = int(body.size());
    for (const int offset : offsets)
        body.append(char(offset));
    QByteArray trailer(32, '\0');
    trailer[6] = 1; // offset size
    trailer[7] = 1; // reference size
    trailer[15] = 3; // objects
    trailer[23] = 0; // top object
    trailer[31] = char(table);
    return body + trailer;
}

TEST(CleanupHistoryRewriteStress, EncodingsOfTheTestReadBack)
{
    QTemporaryDir home;
    const QString folder = home.path() + QStringLiteral("/Korvanta");
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const std::int64_t total : {7LL, 300LL, 70000LL, 5000000000LL, 123456789012345LL}) {
        for (const QByteArray& data : {xmlHistory(total), binaryHistory(total)}) {
            QFile file(folder + QStringLiteral("/CleanupHistory.plist"));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(data);
            file.close();
            EXPECT_EQ(kmb::CleanupHistoryReader(home.path()).readTotalCleanedBytes(), total);
        }
    }
}

TEST(CleanupHistoryRewriteStress, ReadsDuringRewritesGiveWrittenTotalsOrZero)
{
    QTemporaryDir home;
    const QString folder = home.path() + QStringLiteral("/Korvanta");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QByteArray path = QFile::encodeName(folder + QStringLiteral("/CleanupHistory.plist"));
    const QByteArray staged = path + ".new";
    const std::vector<std::int64_t> totals = {7, 300, 70000, 5000000000, 123456789012345,
                                              99, 4096000, 1};
    std::vector<QByteArray> files;
    for (const std::int64_t total : totals) {
        files.push_back(xmlHistory(total));
        files.push_back(binaryHistory(total));
    }

    std::atomic<bool> stop{false};
    std::atomic<int> rewrites{0};
    std::thread writer([&] {
        unsigned step = 0;
        while (!stop.load()) {
            const QByteArray& data = files[(step * 7) % files.size()];
            const qsizetype half = data.size() / 2;
            if (step % 3 != 2) {
                // In place: emptied, then written in two parts.
                const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (fd >= 0) {
                    [[maybe_unused]] ssize_t a = ::write(fd, data.constData(), half);
                    if (step % 2)
                        std::this_thread::sleep_for(std::chrono::microseconds(50));
                    [[maybe_unused]] ssize_t b =
                        ::write(fd, data.constData() + half, data.size() - half);
                    ::close(fd);
                }
            } else {
                // A new file renamed over the old one.
                const int fd = ::open(staged.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (fd >= 0) {
                    [[maybe_unused]] ssize_t a = ::write(fd, data.constData(), data.size());
                    ::close(fd);
                    ::rename(staged.constData(), path.constData());
                }
            }
            ++step;
            ++rewrites;
        }
    });

    const std::set<std::int64_t> allowed(totals.begin(), totals.end());
    std::map<std::int64_t, int> seen;
    kmb::CleanupHistoryReader reader(home.path());
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    int reads = 0;
    while (std::chrono::steady_clock::now() < end) {
        ++seen[reader.readTotalCleanedBytes()];
        ++reads;
    }
    stop = true;
    writer.join();

    std::vector<std::int64_t> garbage;
    for (const auto& [total, count] : seen) {
        if (total != 0 && !allowed.count(total))
            garbage.push_back(total);
    }
    EXPECT_TRUE(garbage.empty()) << "totals never written: " << ::testing::PrintToString(garbage);
    EXPECT_GT(rewrites.load(), 200);
    EXPECT_GT(reads, 1000);
    // The reads did meet whole files, of more than one total.
    std::size_t wholeTotals = 0;
    for (const auto& [total, count] : seen)
        wholeTotals += allowed.count(total);
    EXPECT_GT(wholeTotals, 1u) << reads << " reads";
}

} // namespace
