// The UI side of a pass: the dashboard's byte formatter (disk sizes in units of 1,000, memory in
// units of 1,024), and what the dashboard does with a pass when it is closed and when it is
// open, on the offscreen platform with a sampler that changes two figures every pass.
#include "status/FallbackStatusSampler.h"
#include "status/SystemStatusMonitor.h"
#include "views/ByteFormatting.h"
#include "views/MenuBarPanelView.h"

#include <QApplication>
#include <QLocale>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <memory>

namespace {

constexpr std::int64_t samples[] = {0, 999, 1'500'000'000, 245'107'195'904, 4'000'787'030'016};

void BM_FormatFileBytes(benchmark::State& state)
{
    const QLocale locale(state.range(0) == 0 ? QLocale::c() : QLocale(QLocale::Chinese));
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(kmb::formatFileBytes(samples[next], locale));
        next = (next + 1) % std::size(samples);
    }
}
BENCHMARK(BM_FormatFileBytes)->ArgName("c0_zh1")->Arg(0)->Arg(1);

void BM_FormatMemoryBytes(benchmark::State& state)
{
    const QLocale locale(state.range(0) == 0 ? QLocale::c() : QLocale(QLocale::Chinese));
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(kmb::formatMemoryBytes(std::uint64_t(samples[next]), locale));
        next = (next + 1) % std::size(samples);
    }
}
BENCHMARK(BM_FormatMemoryBytes)->ArgName("c0_zh1")->Arg(0)->Arg(1);

// Counts of 2^63 and more take the borrowed-text path.
void BM_FormatMemoryBytes_Huge(benchmark::State& state)
{
    const QLocale locale = QLocale::c();
    for (auto _ : state)
        benchmark::DoNotOptimize(kmb::formatMemoryBytes(std::uint64_t(1) << 63, locale));
}
BENCHMARK(BM_FormatMemoryBytes_Huge);

// The default locale, as the dashboard calls it.
void BM_FormatFileBytes_DefaultLocale(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(kmb::formatFileBytes(245'107'195'904));
}
BENCHMARK(BM_FormatFileBytes_DefaultLocale);

// Fixed figures, except free memory and the CPU text, which change every pass as they do on a
// real machine; so each pass gives the dashboard new texts to lay out.
class ChangingSampler : public kmb::FallbackStatusSampler {
public:
    std::optional<std::uint64_t> readAvailableMemory() override
    {
        return 8'000'000'000 + 4096 * (++m_pass % 1000);
    }
    std::optional<kmb::VolumeReading> readHomeVolume() override
    {
        return kmb::VolumeReading{QStringLiteral("/"), 120'000'000'000, 250'000'000'000};
    }
    std::int64_t readTotalCleanedBytes() override { return 21'000'063; }
    kmb::BatteryTexts readBatteryTexts() override
    {
        return {QStringLiteral("87%"), QStringLiteral("充电中")};
    }
    std::optional<QString> readCpuLoadText() override
    {
        return QString::number(m_pass % 100) + u'%';
    }
    QString readCpuTemperatureText() override { return QStringLiteral("56°C"); }

private:
    std::uint64_t m_pass = 0;
};

enum class Dashboard { none, closed, open };

// A pass and what follows it in the event loop (the dashboard's reload and, when it is shown,
// its repaint).
void BM_PassWithDashboard(benchmark::State& state, Dashboard dashboard)
{
    kmb::SystemStatusMonitor monitor(std::make_unique<ChangingSampler>());
    std::unique_ptr<kmb::MenuBarPanelView> view;
    if (dashboard != Dashboard::none) {
        view = std::make_unique<kmb::MenuBarPanelView>(&monitor, [] {}, [] {},
                                                       [] { return nullptr; });
        if (dashboard == Dashboard::open)
            view->show();
    }
    monitor.refresh();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        monitor.refresh();
        QCoreApplication::processEvents();
    }
}
BENCHMARK_CAPTURE(BM_PassWithDashboard, none, Dashboard::none);
BENCHMARK_CAPTURE(BM_PassWithDashboard, closed, Dashboard::closed);
BENCHMARK_CAPTURE(BM_PassWithDashboard, open, Dashboard::open)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
