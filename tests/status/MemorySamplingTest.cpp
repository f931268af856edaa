// Available memory from /proc/meminfo's text, and through the reader.

#include "status/MemorySampling.h"
#include "TestSupport.h"

TEST(MemorySampling, AvailableBytes)
{
    const struct {
        QByteArray meminfo;
        std::optional<std::uint64_t> bytes;
    } rows[] = {
        {"MemFree:  100 kB\nMemAvailable:   8000 kB\n", 8000 * 1024},
        {"MemAvailable: 1 kB\nMemAvailable: 2 kB\n", 1024}, // the first one counts
        // Kernels before 3.14: free plus the file cache that can be dropped, or free alone.
        {"MemFree: 100 kB\nInactive: 900 kB\nInactive(file): 500 kB\n", 600 * 1024},
        {"MemAvailable: lots kB\nMemFree: 10 kB\n", 10 * 1024},
        {"Inactive(file): 500 kB\n", std::nullopt},
        {"MemAvailable: 5 MB\n", std::nullopt},
        {"MemAvailable: -5 kB\n", std::nullopt},
        {"MemAvailable: 18014398509481983 kB\n", 18446744073709550592u}, // 2^64 - 1024 bytes
        {"MemAvailable: 18014398509481984 kB\n", std::nullopt},
        {"MemFree: 18014398509481983 kB\nInactive(file): 1 kB\n", std::nullopt},
        {"MemFree: 18446744073709551615 kB\nInactive(file): 1 kB\n", std::nullopt},
        {"\x01\x02:\xff\n::\n", std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(kmb::availableMemoryBytes(kmb::parseMemInfo(row.meminfo)), row.bytes)
            << row.meminfo.toStdString();

    const kmb::test::FakeTree proc;
    const kmb::MemInfoReader reader(proc.root());
    EXPECT_EQ(kmb::availableMemoryBytes(reader.read()), std::nullopt);
    proc.write("meminfo", "MemAvailable: 3 kB\n");
    EXPECT_EQ(kmb::availableMemoryBytes(reader.read()), 3 * 1024);
}
