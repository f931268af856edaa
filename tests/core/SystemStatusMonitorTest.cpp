#include "status/SystemStatusMonitor.h"
#include "ChosenSampler.h"
#include "TestSupport.h"

#include <QTimer>

namespace {

using kmb::SystemStatusMonitor;

struct MonitorUnderTest {
    std::shared_ptr<int> passCount = std::make_shared<int>(0);
    kmb::test::ChosenSampler* sampler = new kmb::test::ChosenSampler(passCount);
    int passes() const { return *passCount; }
    std::unique_ptr<SystemStatusMonitor> monitor =
        std::make_unique<SystemStatusMonitor>(std::unique_ptr<kmb::StatusSampler>(sampler));
};

// The published fields in the order a pass assigns them.
QStringList fields(const SystemStatusMonitor& m)
{
    return {QString::number(m.availableMemoryBytes()),
            QString::number(m.availableDiskBytes()),
            QString::number(m.totalDiskBytes()),
            m.diskName(),
            QString::number(m.totalCleanedBytes()),
            m.batteryPercentText(),
            m.batteryStatusText(),
            m.cpuLoadText(),
            m.cpuTemperatureText()};
}

// Nine notifications a pass, the k-th before the k-th field is stored; six without a volume,
// the disk fields kept. No memory reading stores 0; no load figure keeps the text.
TEST(SystemStatusMonitor, EveryPassNotifiesBeforeEachStore)
{
    MonitorUnderTest t;
    t.sampler->memory = 1'500'000'000;
    t.sampler->volume = kmb::VolumeReading{QStringLiteral("data"), 7, 9};
    t.sampler->cleaned = -5;
    t.sampler->battery = {QStringLiteral("80%"), QStringLiteral("充电中")};
    t.sampler->cpuLoad = QStringLiteral("37%");
    t.sampler->cpuTemperature = QStringLiteral("47°C");
    const QStringList expected = {"1500000000", "7",      "9",   "data", "-5",
                                  "80%",        "充电中", "37%", "47°C"};
    std::vector<int> storedAtNotification;
    QObject::connect(t.monitor.get(), &SystemStatusMonitor::objectWillChange, [&] {
        const QStringList now = fields(*t.monitor);
        int stored = 0;
        for (int i = 0; i < now.size(); ++i)
            stored += now[i] == expected[i];
        storedAtNotification.push_back(stored);
    });
    t.monitor->refresh();
    EXPECT_EQ(fields(*t.monitor), expected);
    EXPECT_EQ(storedAtNotification, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));

    storedAtNotification.clear();
    t.monitor->refresh(); // nothing changes: still nine
    EXPECT_EQ(storedAtNotification.size(), 9u);

    storedAtNotification.clear();
    t.sampler->volume.reset();
    t.sampler->memory.reset();
    t.sampler->cpuLoad.reset();
    t.monitor->refresh();
    EXPECT_EQ(storedAtNotification.size(), 6u);
    EXPECT_EQ(fields(*t.monitor),
              QStringList({"0", "7", "9", "data", "-5", "80%", "充电中", "37%", "47°C"}));
    EXPECT_TRUE(t.monitor->hasSampledDisk());
}

// Starting samples at once; starting twice leaves one timer, which keeps sampling.
TEST(SystemStatusMonitor, StartingTwiceLeavesOneTimer)
{
    MonitorUnderTest t;
    EXPECT_FALSE(t.monitor->hasSampledDisk());
    t.monitor->startMonitoring();
    t.monitor->startMonitoring();
    EXPECT_EQ(t.passes(), 2);
    ASSERT_EQ(t.monitor->findChildren<QTimer*>().size(), 1);
    EXPECT_TRUE(t.monitor->isMonitoring());
    EXPECT_TRUE(kmb::test::waitFor([&] { return t.passes() == 3; }));
}

// Destroys the monitor on its event: posted at high priority, it runs before the pass that the
// tick posted at normal priority.
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

TEST(SystemStatusMonitor, PassQueuedForAGoneMonitorDoesNothing)
{
    MonitorUnderTest t;
    t.monitor->startMonitoring();
    Destroyer destroyer;
    destroyer.target = &t.monitor;
    // Connected after the monitor's own handler, so it runs once the pass has been posted.
    QObject::connect(t.monitor->findChild<QTimer*>(), &QTimer::timeout, &destroyer, [&] {
        QCoreApplication::postEvent(&destroyer, new QEvent(QEvent::User), Qt::HighEventPriority);
    });
    ASSERT_TRUE(kmb::test::waitFor([&] { return !t.monitor; }));
    // Anything posted now is delivered after the pass that the tick posted.
    bool later = false;
    QMetaObject::invokeMethod(
        qApp, [&] { later = true; }, Qt::QueuedConnection);
    ASSERT_TRUE(kmb::test::waitFor([&] { return later; }));
    EXPECT_EQ(t.passes(), 1);
}

} // namespace
