// The monitor's contract: which field each notification precedes, one timer, a gone monitor.

#include "status/SystemStatusMonitor.h"
#include "TestSupport.h"

#include <QTimer>

namespace {

using kmb::SystemStatusMonitor;

struct MonitorUnderTest {
    kmb::test::ChosenSampler* sampler = new kmb::test::ChosenSampler;
    std::shared_ptr<int> passes = sampler->passes; // outlives the monitor
    std::unique_ptr<SystemStatusMonitor> monitor =
        std::make_unique<SystemStatusMonitor>(std::unique_ptr<kmb::StatusSampler>(sampler));
};

// The published fields, in the order a pass assigns them.
const QStringList fieldNames = {"memory",  "free",   "total", "name",       "cleaned",
                                "percent", "status", "load",  "temperature"};

QStringList fields(const SystemStatusMonitor& m)
{
    return QStringList() << QString::number(m.availableMemoryBytes())
                         << QString::number(m.availableDiskBytes())
                         << QString::number(m.totalDiskBytes()) << m.diskName()
                         << QString::number(m.totalCleanedBytes()) << m.batteryPercentText()
                         << m.batteryStatusText() << m.cpuLoadText() << m.cpuTemperatureText();
}

// One pass: per notification, the field whose value changed before the next one ("": none).
QStringList storedFields(SystemStatusMonitor& monitor)
{
    std::vector<QStringList> seen;
    const QMetaObject::Connection watch = QObject::connect(
        &monitor, &SystemStatusMonitor::objectWillChange, [&] { seen.push_back(fields(monitor)); });
    monitor.refresh();
    QObject::disconnect(watch);
    seen.push_back(fields(monitor));
    QStringList stored(seen.size() - 1);
    for (std::size_t k = 0; k + 1 < seen.size(); ++k)
        for (qsizetype i = 0; i < fieldNames.size(); ++i)
            if (seen[k][i] != seen[k + 1][i])
                stored[k] += fieldNames[i];
    return stored;
}

// Each notification comes before the store of one field, in the order of a pass; equal values
// are notified all the same; without a volume six notifications, the disk fields kept.
TEST(SystemStatusMonitor, EachNotificationPrecedesTheStoreOfOneFieldInOrder)
{
    MonitorUnderTest t;
    t.sampler->memory = 1'500'000'000;
    t.sampler->volume = kmb::VolumeReading{QStringLiteral("data"), 7, 9};
    t.sampler->cleaned = -5;
    t.sampler->battery = {QStringLiteral("80%"), QStringLiteral("充电中")};
    t.sampler->cpuLoad = QStringLiteral("37%");
    t.sampler->cpuTemperature = QStringLiteral("47°C");
    EXPECT_FALSE(t.monitor->hasSampledDisk());
    EXPECT_EQ(fields(*t.monitor),
              QStringList({"0", "0", "0", "Macintosh HD", "0", "—", "不可用", "—", "--°C"}));
    EXPECT_EQ(storedFields(*t.monitor), fieldNames);
    EXPECT_EQ(fields(*t.monitor),
              QStringList({"1500000000", "7", "9", "data", "-5", "80%", "充电中", "37%", "47°C"}));
    EXPECT_TRUE(t.monitor->hasSampledDisk());

    EXPECT_EQ(storedFields(*t.monitor), QStringList(9, QString()));

    // No memory reading stores 0; no load figure stores the text shown.
    t.sampler->volume.reset();
    t.sampler->memory.reset();
    t.sampler->cpuLoad.reset();
    t.sampler->cleaned = 6;
    t.sampler->battery = {QStringLiteral("81%"), QStringLiteral("已充满")};
    t.sampler->cpuTemperature = QStringLiteral("48°C");
    EXPECT_EQ(storedFields(*t.monitor),
              QStringList({"memory", "cleaned", "percent", "status", "", "temperature"}));
    EXPECT_EQ(fields(*t.monitor),
              QStringList({"0", "7", "9", "data", "6", "81%", "已充满", "37%", "48°C"}));
    EXPECT_TRUE(t.monitor->hasSampledDisk());
}

// Starting samples at once; starting again samples again and leaves one timer of 2 s, whose
// ticks sample. The pass that a tick posted finds the monitor gone, destroyed as the tick was
// handled, and does nothing.
TEST(SystemStatusMonitor, StartingTwiceLeavesOneTimerWhosePassesNeedTheMonitor)
{
    MonitorUnderTest t;
    for (const int passes : {1, 2}) {
        t.monitor->startMonitoring();
        EXPECT_EQ(*t.passes, passes);
    }
    const QList<QTimer*> timers = t.monitor->findChildren<QTimer*>();
    ASSERT_EQ(timers.size(), 1);
    EXPECT_TRUE(timers[0]->isActive());
    EXPECT_EQ(timers[0]->interval(), 2000);
    timers[0]->setInterval(1); // the ticks' effect, without waiting for them
    ASSERT_TRUE(kmb::test::waitFor([&] { return *t.passes >= 3; }));
    // Connected after the monitor's own handler, so it runs once the tick's pass has been posted.
    int passesAtReset = 0;
    QObject::connect(timers[0], &QTimer::timeout, [&] {
        passesAtReset = *t.passes;
        t.monitor.reset();
    });
    ASSERT_TRUE(kmb::test::waitFor([&] { return !t.monitor; }));
    // Anything posted now is delivered after the pass that the tick posted.
    bool later = false;
    QMetaObject::invokeMethod(
        qApp, [&] { later = true; }, Qt::QueuedConnection);
    ASSERT_TRUE(kmb::test::waitFor([&] { return later; }));
    EXPECT_EQ(*t.passes, passesAtReset);
}

} // namespace
