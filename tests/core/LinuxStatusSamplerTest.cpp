#include "status/LinuxStatusSampler.h"
#include "FakeSysTree.h"
#include "status/SystemStatusMonitor.h"

#include <gtest/gtest.h>

TEST(LinuxStatusSampler, MonitorShowsWhatTheFakeMachineHolds)
{
    const kmb::test::FakeSysTree proc;
    proc.write("meminfo", "MemAvailable: 4096 kB\n");
    proc.write("stat", "cpu  100 0 0 900 0 0 0 0\n");
    const kmb::test::FakeSysTree sys;
    sys.writeDevice("class/power_supply/BAT0", "type=Battery;capacity=29;status=Discharging");
    sys.writeDevice("class/hwmon/hwmon0", "name=k10temp;temp1_label=Tctl;temp1_input=46600");
    const kmb::test::FakeSysTree home;
    kmb::SystemStatusMonitor monitor(std::make_unique<kmb::LinuxStatusSampler>(
        kmb::SystemRoots{proc.root(), sys.root(), home.root(), QString()}));

    monitor.refresh();
    EXPECT_EQ(monitor.availableMemoryBytes(), 4096u * 1024);
    EXPECT_TRUE(monitor.hasSampledDisk());
    EXPECT_GT(monitor.totalDiskBytes(), 0);
    EXPECT_EQ(monitor.batteryPercentText(), QStringLiteral("29%"));
    EXPECT_EQ(monitor.batteryStatusText(), QStringLiteral("电池供电"));
    EXPECT_EQ(monitor.cpuLoadText(), QStringLiteral("\u2014"));
    EXPECT_EQ(monitor.cpuTemperatureText(), QStringLiteral("47°C"));

    proc.write("stat", "cpu  175 0 0 925 0 0 0 0\n");
    monitor.refresh();
    EXPECT_EQ(monitor.cpuLoadText(), QStringLiteral("75%"));
    monitor.refresh(); // no time passed: the text stays
    EXPECT_EQ(monitor.cpuLoadText(), QStringLiteral("75%"));
}

TEST(LinuxStatusSampler, EmptyMachineGivesFallbacks)
{
    const kmb::test::FakeSysTree empty;
    kmb::LinuxStatusSampler sampler(
        kmb::SystemRoots{empty.root(), empty.root(), empty.root() + "/no-home", QString()});
    EXPECT_EQ(sampler.readAvailableMemory(), std::nullopt);
    EXPECT_FALSE(sampler.readHomeVolume().has_value());
    EXPECT_EQ(sampler.readTotalCleanedBytes(), 0);
    EXPECT_EQ(sampler.readBatteryTexts().statusText, QStringLiteral("不可用"));
    EXPECT_EQ(sampler.readCpuLoadText(), QStringLiteral("\u2014"));
    EXPECT_EQ(sampler.readCpuTemperatureText(), QStringLiteral("--°C"));
}
