// One refresh pass of the status monitor, and each of its readings on its own: on this machine
// (its /proc, /sys and home volume) and on a laptop-shaped /sys tree.
#include "BenchSupport.h"

#include "status/LinuxStatusSampler.h"
#include "status/SystemStatusMonitor.h"

#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

using kmb::LinuxStatusSampler;
using kmb::SystemRoots;
using kmb::SystemStatusMonitor;

// The data directory that forThisMachine() finds: main() points XDG_DATA_HOME at a temporary
// folder holding a small history, so the pass stats (and, once settled, does not re-read) it.
void requireSmallHistoryFor(const LinuxStatusSampler& sampler)
{
    static bool written = false;
    if (written)
        return;
    kmb::bench::writeSmallHistory(sampler.roots().dataDir);
    kmb::bench::waitUntilHistorySettled();
    written = true;
}

void BM_RefreshPass_ThisMachine(benchmark::State& state)
{
    auto sampler = LinuxStatusSampler::forThisMachine();
    requireSmallHistoryFor(*sampler);
    SystemStatusMonitor monitor(std::move(sampler));
    monitor.refresh(); // the first pass sets the CPU baseline
    for (auto _ : state)
        monitor.refresh();
    state.counters["cleanedTotal"] = double(monitor.totalCleanedBytes());
}
BENCHMARK(BM_RefreshPass_ThisMachine);

// The same pass with the sampler built anew each time: what a pass would cost if nothing
// were kept between passes (paths, CPU baseline, history identity).
void BM_RefreshPass_ThisMachine_FreshSampler(benchmark::State& state)
{
    requireSmallHistoryFor(*LinuxStatusSampler::forThisMachine());
    for (auto _ : state) {
        SystemStatusMonitor monitor(LinuxStatusSampler::forThisMachine());
        monitor.refresh();
    }
}
BENCHMARK(BM_RefreshPass_ThisMachine_FreshSampler);

void BM_RefreshPass_LaptopTree(benchmark::State& state)
{
    static const kmb::bench::LaptopSysTree sys;
    auto machine = LinuxStatusSampler::forThisMachine();
    requireSmallHistoryFor(*machine);
    SystemRoots roots = machine->roots();
    roots.sysRoot = sys.root();
    SystemStatusMonitor monitor(std::make_unique<LinuxStatusSampler>(roots));
    monitor.refresh();
    for (auto _ : state)
        monitor.refresh();
    if (monitor.batteryPercentText() != QStringLiteral("87%") ||
        monitor.cpuTemperatureText() != QStringLiteral("56°C"))
        state.SkipWithError("the laptop tree did not read as expected");
}
BENCHMARK(BM_RefreshPass_LaptopTree);

// Each reading of a pass on its own, to see where a pass spends its time.
enum class Reading { memory, homeVolume, history, battery, cpuLoad, cpuTemperature };

void BM_Reading(benchmark::State& state, Reading reading, bool laptop)
{
    static const kmb::bench::LaptopSysTree sys;
    auto machine = LinuxStatusSampler::forThisMachine();
    requireSmallHistoryFor(*machine);
    SystemRoots roots = machine->roots();
    if (laptop)
        roots.sysRoot = sys.root();
    LinuxStatusSampler sampler(roots);
    for (auto _ : state) {
        switch (reading) {
        case Reading::memory:
            benchmark::DoNotOptimize(sampler.readAvailableMemory());
            break;
        case Reading::homeVolume:
            benchmark::DoNotOptimize(sampler.readHomeVolume());
            break;
        case Reading::history:
            benchmark::DoNotOptimize(sampler.readTotalCleanedBytes());
            break;
        case Reading::battery:
            benchmark::DoNotOptimize(sampler.readBatteryTexts());
            break;
        case Reading::cpuLoad:
            benchmark::DoNotOptimize(sampler.readCpuLoadText());
            break;
        case Reading::cpuTemperature:
            benchmark::DoNotOptimize(sampler.readCpuTemperatureText());
            break;
        }
    }
}

const bool readingsRegistered = [] {
    const std::pair<const char*, Reading> readings[] = {
        {"memory", Reading::memory},         {"homeVolume", Reading::homeVolume},
        {"history_small_unchanged", Reading::history}, {"battery", Reading::battery},
        {"cpuLoad", Reading::cpuLoad},       {"cpuTemperature", Reading::cpuTemperature}};
    for (const auto& [name, reading] : readings)
        benchmark::RegisterBenchmark((std::string("BM_Reading/") + name).c_str(), BM_Reading,
                                     reading, false);
    benchmark::RegisterBenchmark("BM_Reading/battery_laptopTree", BM_Reading, Reading::battery,
                                 true);
    benchmark::RegisterBenchmark("BM_Reading/cpuTemperature_laptopTree", BM_Reading,
                                 Reading::cpuTemperature, true);
    return true;
}();

} // namespace
