// Many refresh passes of the real sampler over this machine's /proc and /sys, with a
// cleanup history that Korvanta rewrites every few passes: every pass must read the
// current total, and the process must not grow while it goes on.

#include "status/LinuxStatusSampler.h"
#include "status/SystemStatusMonitor.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define KMB_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KMB_UNDER_ASAN 1
#endif
#endif

namespace {

constexpr int kPasses = 500;
constexpr int kBaselinePass = 100;
constexpr int kRewriteEvery = 5;
// Growth of the resident set from pass 100 to pass 500 that still counts as steady: room
// for the allocator's own bookkeeping, far below what a leak of a few hundred bytes per
// pass (one lost file buffer, one lost mount table) would add up to over 400 passes.
constexpr long kMaxGrowthBytes = 256 * 1024;

long residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

QByteArray xmlHistory(std::int64_t total)
{
    return QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                             "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                             "<plist version=\"1.0\">\n<dict>\n"
                             "\t<key>cleanups</key>\n\t<array><integer>1</integer></array>\n"
                             "\t<key>totalCleanedBytes</key>\n\t<integer>") +
           QByteArray::number(qint64(total)) + QByteArrayLiteral("</integer>\n</dict>\n</plist>\n");
}

QByteArray fixture(const char* name)
{
    QFile file(QStringLiteral(KMB_FIXTURES_DIR "/history/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

struct HistoryVersion {
    QByteArray bytes;
    std::int64_t total;
};

class HistoryWriter {
public:
    explicit HistoryWriter(const QString& dataDir)
        : m_path(dataDir + QStringLiteral("/Korvanta/CleanupHistory.plist"))
    {
        QDir().mkpath(dataDir + QStringLiteral("/Korvanta"));
    }

    // Alternates XML written in place, binary files swapped in by rename, and a removed
    // file; returns the total the next pass must read.
    std::int64_t rewrite(int change)
    {
        switch (change % 4) {
        case 0: { // in place, as a plain rewrite of the same file
            const std::int64_t total = 1'000'000 + change;
            QFile file(m_path);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                return -1;
            file.write(xmlHistory(total));
            return total;
        }
        case 1:
            return replace({fixture("int_4096.bplist"), 4096});
        case 2:
            return replace({fixture("int_3000000000_four_bytes.bplist"), 3'000'000'000});
        default:
            QFile::remove(m_path);
            return 0;
        }
    }

private:
    std::int64_t replace(const HistoryVersion& version)
    {
        if (version.bytes.isEmpty())
            return -1;
        QSaveFile file(m_path);
        if (!file.open(QIODevice::WriteOnly))
            return -1;
        file.write(version.bytes);
        return file.commit() ? version.total : -1;
    }

    QString m_path;
};

} // namespace

TEST(RefreshSoak, HundredsOfPassesReadEveryRewriteAndKeepTheProcessSteady)
{
    QTemporaryDir home;
    QTemporaryDir data;
    ASSERT_TRUE(home.isValid() && data.isValid());
    kmb::SystemStatusMonitor monitor(std::make_unique<kmb::LinuxStatusSampler>(
        kmb::SystemRoots{QStringLiteral("/proc"), QStringLiteral("/sys"), home.path(), data.path()}));
    HistoryWriter history(data.path());

    std::int64_t expectedTotal = 0;
    long baseline = 0;
    int change = 0;
    for (int pass = 1; pass <= kPasses; ++pass) {
        if (pass % kRewriteEvery == 0) {
            expectedTotal = history.rewrite(change++);
            ASSERT_GE(expectedTotal, 0) << "could not write the history file";
        }
        monitor.refresh();
        ASSERT_EQ(monitor.totalCleanedBytes(), expectedTotal) << "pass " << pass;
        // The machine's own figures are read on every pass as well.
        ASSERT_TRUE(monitor.hasSampledDisk()) << "pass " << pass;
        ASSERT_GT(monitor.totalDiskBytes(), 0) << "pass " << pass;
        ASSERT_GT(monitor.availableMemoryBytes(), 0u) << "pass " << pass;
        ASSERT_FALSE(monitor.cpuLoadText().isEmpty()) << "pass " << pass;
        if (pass == kBaselinePass)
            baseline = residentBytes();
    }
    const long growth = residentBytes() - baseline;
    RecordProperty("rss_growth_bytes", std::to_string(growth));
#if defined(KMB_UNDER_ASAN)
    // ASan holds freed memory in quarantine, so the resident set says nothing here; LSan
    // reports what leaked when the process ends.
    (void)growth;
#else
    EXPECT_GT(baseline, 0);
    EXPECT_LE(growth, kMaxGrowthBytes)
        << "the resident set grew by " << growth << " bytes from pass " << kBaselinePass
        << " to pass " << kPasses;
#endif
}
