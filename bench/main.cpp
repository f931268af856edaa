// Runs the status benchmarks with this process's data directory pointed at a temporary folder,
// so that the refresh passes find a small history there and the user's own files are left alone.
#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdlib>

int main(int argc, char** argv)
{
    QTemporaryDir data;
    if (!data.isValid())
        return 2;
    ::setenv("XDG_DATA_HOME", data.path().toLocal8Bit().constData(), 1);
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
