#include "status/SystemStatusMonitor.h"
#include "ScriptedSampler.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

using kmb::SystemStatusMonitor;
using kmb::test::ScriptedSampler;

namespace {

struct MonitorUnderTest {
    ScriptedSampler* sampler = new ScriptedSampler;
    SystemStatusMonitor monitor{std::unique_ptr<ScriptedSampler>(sampler)};
    int notifications = 0;

    MonitorUnderTest()
    {
        QObject::connect(&monitor, &SystemStatusMonitor::objectWillChange,
                         [this] { ++notifications; });
    }
};

void processEventsFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace

TEST(SystemStatusMonitor, StartsWithFallbackValuesAndNoTimer)
{
    MonitorUnderTest t;
    EXPECT_EQ(t.monitor.availableMemoryBytes(), 0u);
    EXPECT_EQ(t.monitor.diskName(), QStringLiteral("Macintosh HD"));
    EXPECT_EQ(t.monitor.availableDiskBytes(), 0);
    EXPECT_EQ(t.monitor.totalDiskBytes(), 0);
    EXPECT_EQ(t.monitor.totalCleanedBytes(), 0);
    EXPECT_EQ(t.monitor.batteryPercentText(), QString(QChar(0x2014)));
    EXPECT_EQ(t.monitor.batteryStatusText(), QStringLiteral("不可用"));
    EXPECT_EQ(t.monitor.cpuLoadText(), QString(QChar(0x2014)));
    EXPECT_EQ(t.monitor.cpuTemperatureText(), QStringLiteral("--°C"));
    EXPECT_FALSE(t.monitor.isMonitoring());
    EXPECT_FALSE(t.monitor.hasSampledDisk());
    EXPECT_EQ(t.sampler->passes, 0);
}

TEST(SystemStatusMonitor, PassNotifiesNineTimesEvenWhenNothingChanges)
{
    MonitorUnderTest t;
    t.sampler->volume = kmb::VolumeReading{QStringLiteral("home"), 10, 20};
    t.monitor.refresh();
    EXPECT_EQ(t.notifications, 9);
    t.monitor.refresh();
    EXPECT_EQ(t.notifications, 18);
}

TEST(SystemStatusMonitor, FailedVolumeQueryNotifiesSixTimesAndKeepsDiskFields)
{
    MonitorUnderTest t;
    t.sampler->volume = kmb::VolumeReading{QStringLiteral("data"), 1234, 5678};
    t.monitor.refresh();
    ASSERT_TRUE(t.monitor.hasSampledDisk());
    t.sampler->volume.reset();
    t.notifications = 0;
    t.monitor.refresh();
    EXPECT_EQ(t.notifications, 6);
    EXPECT_EQ(t.monitor.diskName(), QStringLiteral("data"));
    EXPECT_EQ(t.monitor.availableDiskBytes(), 1234);
    EXPECT_EQ(t.monitor.totalDiskBytes(), 5678);
    EXPECT_TRUE(t.monitor.hasSampledDisk());
}

TEST(SystemStatusMonitor, NotificationPrecedesTheStore)
{
    MonitorUnderTest t;
    t.sampler->cleaned = 4096;
    std::vector<std::int64_t> seen;
    QObject::connect(&t.monitor, &SystemStatusMonitor::objectWillChange,
                     [&] { seen.push_back(t.monitor.totalCleanedBytes()); });
    t.monitor.refresh();
    // Third notification announces totalCleanedBytes: the old value is still in place.
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen[1], 0);
    EXPECT_EQ(t.monitor.totalCleanedBytes(), 4096);
}

TEST(SystemStatusMonitor, PassStoresEachReading)
{
    MonitorUnderTest t;
    t.sampler->memory = 1'500'000'000u;
    t.sampler->volume = kmb::VolumeReading{QStringLiteral("root"), 7, 9};
    t.sampler->cleaned = -5;
    t.sampler->battery = {QStringLiteral("80%"), QStringLiteral("正在充电")};
    t.sampler->cpuLoad = QStringLiteral("37%");
    t.sampler->cpuTemperature = QStringLiteral("47°C");
    t.monitor.refresh();
    EXPECT_EQ(t.monitor.availableMemoryBytes(), 1'500'000'000u);
    EXPECT_EQ(t.monitor.diskName(), QStringLiteral("root"));
    EXPECT_EQ(t.monitor.availableDiskBytes(), 7);
    EXPECT_EQ(t.monitor.totalDiskBytes(), 9);
    EXPECT_EQ(t.monitor.totalCleanedBytes(), -5);
    EXPECT_EQ(t.monitor.batteryPercentText(), QStringLiteral("80%"));
    EXPECT_EQ(t.monitor.batteryStatusText(), QStringLiteral("正在充电"));
    EXPECT_EQ(t.monitor.cpuLoadText(), QStringLiteral("37%"));
    EXPECT_EQ(t.monitor.cpuTemperatureText(), QStringLiteral("47°C"));

    // No memory reading overwrites the old value with 0; no new CPU figure keeps the text.
    t.sampler->memory.reset();
    t.sampler->cpuLoad.reset();
    t.monitor.refresh();
    EXPECT_EQ(t.monitor.availableMemoryBytes(), 0u);
    EXPECT_EQ(t.monitor.cpuLoadText(), QStringLiteral("37%"));
}

TEST(SystemStatusMonitor, StartMonitoringSamplesSynchronouslyAndTwiceLeavesOneTimer)
{
    MonitorUnderTest t;
    t.monitor.startMonitoring();
    EXPECT_EQ(t.sampler->passes, 1);
    EXPECT_EQ(t.notifications, 6);
    t.monitor.startMonitoring();
    EXPECT_EQ(t.sampler->passes, 2);
    const auto timers = t.monitor.findChildren<QTimer*>();
    ASSERT_EQ(timers.size(), 1);
    EXPECT_TRUE(timers.first()->isActive());
    EXPECT_EQ(timers.first()->interval(), 2000);
    // Over one interval the single timer gives one more pass.
    processEventsFor(SystemStatusMonitor::refreshIntervalMs + 400);
    EXPECT_EQ(t.sampler->passes, 3);
}

namespace {
// Destroys the monitor when it receives its event; posted at high priority it runs
// before the pass that the tick posted at normal priority.
class Destroyer : public QObject {
public:
    std::unique_ptr<SystemStatusMonitor>* target = nullptr;
    bool event(QEvent* e) override
    {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        target->reset();
        return true;
    }
};
} // namespace

TEST(SystemStatusMonitor, PassPostedByATickDoesNothingWhenMonitorIsGone)
{
    int passes = 0;
    auto* sampler = new ScriptedSampler;
    sampler->passesOutliving = &passes;
    auto monitor = std::make_unique<SystemStatusMonitor>(std::unique_ptr<ScriptedSampler>(sampler));
    monitor->startMonitoring();
    ASSERT_EQ(passes, 1);
    Destroyer destroyer;
    destroyer.target = &monitor;
    QTimer* tick = monitor->findChild<QTimer*>();
    ASSERT_NE(tick, nullptr);
    // Runs after the monitor's own handler has posted the pass.
    QObject::connect(tick, &QTimer::timeout, &destroyer, [&] {
        QCoreApplication::postEvent(&destroyer, new QEvent(QEvent::User), Qt::HighEventPriority);
    });
    QElapsedTimer clock;
    clock.start();
    while (monitor && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ASSERT_FALSE(monitor);
    // Give the posted pass every chance to run: it must not.
    processEventsFor(200);
    EXPECT_EQ(passes, 1);
}
