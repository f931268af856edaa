#pragma once

#include "status/FallbackStatusSampler.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

namespace kmb::test {

// A throw-away directory standing in for /proc, /sys, a home or a data directory.
class FakeTree {
public:
    QString root() const { return m_dir.path(); }
    QString path(const QString& relative) const { return m_dir.filePath(relative); }

    // Writes root/relative, making its parent directories.
    void write(const QString& relative, const QByteArray& content) const
    {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path(relative)).absolutePath()));
        QFile file(path(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(content), content.size());
    }

private:
    QTemporaryDir m_dir;
};

inline qsizetype openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size();
}

// Runs the event loop until `done` holds, at most `ms`; returns whether it held.
inline bool waitFor(const std::function<bool()>& done, int ms = 10000)
{
    const QDeadlineTimer deadline(ms);
    QTimer wake; // so that the loop looks at `done` again without an event of its own
    wake.start(10);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

// A sampler whose readings the test chooses. It counts its passes in a counter the test may
// share, which outlives the sampler when the monitor takes it down with it.
class ChosenSampler : public FallbackStatusSampler {
public:
    std::optional<std::uint64_t> memory;
    std::optional<VolumeReading> volume;
    std::int64_t cleaned = 0;
    BatteryTexts battery{QStringLiteral("\u2014"), QStringLiteral("不可用")};
    std::optional<QString> cpuLoad;
    QString cpuTemperature = QStringLiteral("--°C");
    std::shared_ptr<int> passes = std::make_shared<int>(0);

    std::optional<std::uint64_t> readAvailableMemory() override { return ++*passes, memory; }
    std::optional<VolumeReading> readHomeVolume() override { return volume; }
    std::int64_t readTotalCleanedBytes() override { return cleaned; }
    BatteryTexts readBatteryTexts() override { return battery; }
    std::optional<QString> readCpuLoadText() override { return cpuLoad; }
    QString readCpuTemperatureText() override { return cpuTemperature; }
};

} // namespace kmb::test
