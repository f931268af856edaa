// Runs refresh passes in this process, back to back, and prints the resident and proportional
// set after the first `--early` passes and after all `--passes` of them, as one JSON object:
// a pass that kept anything (a string, a directory listing, a parser buffer) would show as
// growth. With --dashboard the dashboard is built on the offscreen platform, shown and
// redrawn after every pass, as it is while open.
//
//   kmb_refresh_soak [--passes N] [--early N] [--dashboard]
#include "BenchSupport.h"

#include "status/LinuxStatusSampler.h"
#include "status/SystemStatusMonitor.h"
#include "views/MenuBarPanelView.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv)
{
    QTemporaryDir data;
    if (!data.isValid())
        return 2;
    ::setenv("XDG_DATA_HOME", data.path().toLocal8Bit().constData(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption passesOption(QStringLiteral("passes"), QStringLiteral("Passes in all."),
                                          QStringLiteral("N"), QStringLiteral("10000"));
    const QCommandLineOption earlyOption(QStringLiteral("early"),
                                         QStringLiteral("Passes before the first reading."),
                                         QStringLiteral("N"), QStringLiteral("100"));
    const QCommandLineOption dashboardOption(QStringLiteral("dashboard"),
                                             QStringLiteral("Show the dashboard and redraw it."));
    parser.addOptions({passesOption, earlyOption, dashboardOption});
    parser.process(app);
    const int passes = parser.value(passesOption).toInt();
    const int early = parser.value(earlyOption).toInt();
    if (passes < 1 || early < 1 || early > passes) {
        std::fprintf(stderr, "need 1 <= --early <= --passes\n");
        return 2;
    }

    auto sampler = kmb::LinuxStatusSampler::forThisMachine();
    kmb::bench::writeSmallHistory(sampler->roots().dataDir);
    kmb::SystemStatusMonitor monitor(std::move(sampler));
    std::unique_ptr<kmb::MenuBarPanelView> dashboard;
    if (parser.isSet(dashboardOption)) {
        dashboard = std::make_unique<kmb::MenuBarPanelView>(
            &monitor, [] {}, [] {}, [] { return nullptr; });
        dashboard->show();
    }

    kmb::bench::MemoryFigures afterEarly;
    for (int pass = 1; pass <= passes; ++pass) {
        monitor.refresh();
        if (dashboard) {
            // The reload the pass scheduled, and the repaint it asked for.
            QCoreApplication::processEvents();
            dashboard->repaint();
        }
        if (pass == early)
            afterEarly = kmb::bench::currentMemory();
    }
    const kmb::bench::MemoryFigures afterAll = kmb::bench::currentMemory();

    QJsonObject result{
        {QStringLiteral("dashboard"), bool(dashboard)},
        {QStringLiteral("early_passes"), early},
        {QStringLiteral("passes"), passes},
        {QStringLiteral("rss_early_kib"), qint64(afterEarly.rssKiB)},
        {QStringLiteral("rss_end_kib"), qint64(afterAll.rssKiB)},
        {QStringLiteral("rss_growth_kib"), qint64(afterAll.rssKiB - afterEarly.rssKiB)},
        {QStringLiteral("pss_early_kib"), qint64(afterEarly.pssKiB)},
        {QStringLiteral("pss_end_kib"), qint64(afterAll.pssKiB)},
    };
    std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    return 0;
}
