#include "status/MemorySampling.h"

#include <gtest/gtest.h>

TEST(MemorySampling, AvailableBytesFromMeminfo)
{
    const struct {
        const char* meminfo;
        std::optional<std::uint64_t> expected;
    } cases[] = {
        {"MemFree:  100 kB\nMemAvailable:   8000 kB\n", 8000ull * 1024},
        // Kernels without MemAvailable.
        {"MemFree: 100 kB\nInactive: 900 kB\nInactive(file): 500 kB\n", 600ull * 1024},
        {"MemAvailable: lots kB\nMemFree: 10 kB\n", 10ull * 1024},
        {"MemAvailable: 5 MB\n", std::nullopt},
        {"MemAvailable: -5 kB\n", std::nullopt},
        {"MemAvailable: 18014398509481984 kB\n", std::nullopt}, // bytes beyond 64 bits
        {"\x01\x02:\xff\n::\n", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kmb::availableMemoryBytes(kmb::parseMemInfo(c.meminfo)), c.expected) << c.meminfo;
}
