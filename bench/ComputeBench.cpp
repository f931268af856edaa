// The pure computations of a pass: the CPU load from /proc/stat text, and the battery texts.
#include "status/BatterySampling.h"
#include "status/CpuLoadSampling.h"
#include "status/MemorySampling.h"

#include <QFile>
#include <benchmark/benchmark.h>

namespace {

// /proc/stat of an 8-CPU machine; only the first line is ever looked at, but the reader hands
// the parser its first 4 KiB.
QByteArray procStat(std::uint64_t step)
{
    QByteArray text = "cpu  " + QByteArray::number(4705 + step * 7) + " 150 " +
                      QByteArray::number(1120 + step * 3) + " " +
                      QByteArray::number(16250 + step * 90) + " 629 0 4 0 0 0\n";
    for (int cpu = 0; cpu < 8; ++cpu)
        text += "cpu" + QByteArray::number(cpu) + " 588 18 140 2031 78 0 0 0 0 0\n";
    text += "intr 1462898 " + QByteArray("0 ").repeated(300) + "\nctxt 2935713\n";
    return text.left(4096);
}

void BM_ParseCpuStat(benchmark::State& state)
{
    const QByteArray text = procStat(0);
    for (auto _ : state)
        benchmark::DoNotOptimize(kmb::parseCpuStat(text));
}
BENCHMARK(BM_ParseCpuStat);

void BM_CpuLoadPercent(benchmark::State& state)
{
    const kmb::CpuTimes earlier = *kmb::parseCpuStat(procStat(0));
    const kmb::CpuTimes later = *kmb::parseCpuStat(procStat(1));
    for (auto _ : state) {
        benchmark::DoNotOptimize(earlier);
        benchmark::DoNotOptimize(kmb::cpuLoadPercent(earlier, later));
    }
}
BENCHMARK(BM_CpuLoadPercent);

// Parse, compare with the previous sample, and make the text: what a pass does for the load.
void BM_CpuLoadText(benchmark::State& state)
{
    const QByteArray samples[2] = {procStat(0), procStat(1)};
    kmb::CpuLoadTracker tracker;
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tracker.next(kmb::parseCpuStat(samples[next])));
        next ^= 1;
    }
}
BENCHMARK(BM_CpuLoadText);

void BM_ParseMemInfo(benchmark::State& state)
{
    QFile file(QStringLiteral("/proc/meminfo"));
    if (!file.open(QIODevice::ReadOnly)) {
        state.SkipWithError("no /proc/meminfo");
        return;
    }
    const QByteArray text = file.readAll();
    for (auto _ : state)
        benchmark::DoNotOptimize(kmb::availableMemoryBytes(kmb::parseMemInfo(text)));
}
BENCHMARK(BM_ParseMemInfo);

void BM_BatteryPercent(benchmark::State& state)
{
    std::int64_t current = 48'720'000;
    const std::int64_t max = 56'000'000;
    for (auto _ : state) {
        benchmark::DoNotOptimize(current);
        benchmark::DoNotOptimize(kmb::batteryPercent(current, max));
    }
}
BENCHMARK(BM_BatteryPercent);

void BM_BatteryTexts(benchmark::State& state)
{
    kmb::BatteryCharge charge;
    charge.capacityPercent = 87;
    const std::optional<kmb::PowerSourceDescription> source =
        kmb::describeBattery(charge, u"Charging", true);
    for (auto _ : state)
        benchmark::DoNotOptimize(kmb::batteryTexts(source));
}
BENCHMARK(BM_BatteryTexts);

void BM_BatteryTexts_NoBattery(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(kmb::batteryTexts(std::nullopt));
}
BENCHMARK(BM_BatteryTexts_NoBattery);

} // namespace
