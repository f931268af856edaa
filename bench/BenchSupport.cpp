#include "BenchSupport.h"

#include "status/CleanupHistoryReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace kmb::bench {

namespace {

[[noreturn]] void fail(const QString& what)
{
    std::fprintf(stderr, "benchmark setup failed: %s\n", qPrintable(what));
    std::exit(2);
}

std::int64_t kiBField(const QByteArray& text, const QByteArray& key)
{
    for (const QByteArray& line : text.split('\n')) {
        if (line.startsWith(key)) {
            QByteArray value = line.mid(key.size()).trimmed();
            value.chop(2); // " kB"
            return value.trimmed().toLongLong();
        }
    }
    return -1;
}

} // namespace

void writeFile(const QString& dir, const QString& relativePath, const QByteArray& content)
{
    const QString path = dir + u'/' + relativePath;
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        fail(QStringLiteral("cannot create the folder of ") + path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(content) != content.size())
        fail(QStringLiteral("cannot write ") + path);
}

void waitUntilHistorySettled()
{
    std::this_thread::sleep_for(
        std::chrono::nanoseconds(CleanupHistoryReader::kSettledAfterNanoseconds) +
        std::chrono::milliseconds(100));
}

const HistoryFiles& HistoryFiles::instance()
{
    static const HistoryFiles files;
    return files;
}

HistoryFiles::HistoryFiles()
{
    if (!m_dir.isValid())
        fail(QStringLiteral("no temporary directory"));
    QProcess generator;
    generator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    generator.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral(KMB_BENCH_SOURCE_DIR "/make_history.py"), m_dir.path()});
    if (!generator.waitForFinished(300'000) || generator.exitStatus() != QProcess::NormalExit ||
        generator.exitCode() != 0)
        fail(QStringLiteral("make_history.py failed"));
    // Each file becomes the history of a data directory of its own.
    for (const char* encoding : {"xml", "binary"}) {
        for (const char* size : {"1k", "1m", "16m"}) {
            const QString name = QLatin1StringView(encoding) + u'-' + QLatin1StringView(size);
            const QString folder = dataDir(encoding, size) + QStringLiteral("/Korvanta");
            if (!QDir().mkpath(folder) ||
                !QFile::rename(m_dir.path() + u'/' + name + QStringLiteral(".plist"),
                               path(encoding, size)))
                fail(QStringLiteral("cannot move ") + name);
        }
    }
    waitUntilHistorySettled();
}

QString HistoryFiles::dataDir(const char* encoding, const char* size) const
{
    return m_dir.path() + QStringLiteral("/data-") + QLatin1StringView(encoding) + u'-' +
           QLatin1StringView(size);
}

QString HistoryFiles::path(const char* encoding, const char* size) const
{
    return dataDir(encoding, size) + QStringLiteral("/Korvanta/CleanupHistory.plist");
}

QByteArray HistoryFiles::bytes(const char* encoding, const char* size) const
{
    QFile file(path(encoding, size));
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read ") + file.fileName());
    return file.readAll();
}

LaptopSysTree::LaptopSysTree()
{
    if (!m_dir.isValid())
        fail(QStringLiteral("no temporary directory"));
    const QString root = m_dir.path();
    auto device = [&](const QString& dir, std::initializer_list<std::pair<const char*, const char*>>
                                              attributes) {
        for (const auto& [name, value] : attributes)
            writeFile(root, dir + u'/' + QLatin1StringView(name), QByteArray(value) + '\n');
    };
    device(QStringLiteral("class/power_supply/AC"), {{"type", "Mains"}, {"online", "1"}});
    device(QStringLiteral("class/power_supply/BAT0"),
           {{"type", "Battery"}, {"present", "1"}, {"scope", "System"}, {"capacity", "87"},
            {"status", "Charging"}, {"energy_now", "48720000"}, {"energy_full", "56000000"}});
    device(QStringLiteral("class/power_supply/hidpp_battery_0"),
           {{"type", "Battery"}, {"scope", "Device"}, {"capacity", "40"}});
    device(QStringLiteral("class/hwmon/hwmon0"), {{"name", "AC"}});
    device(QStringLiteral("class/hwmon/hwmon1"), {{"name", "acpitz"}, {"temp1_input", "51000"}});
    device(QStringLiteral("class/hwmon/hwmon2"),
           {{"name", "nvme"}, {"temp1_input", "38850"}, {"temp1_label", "Composite"}});
    device(QStringLiteral("class/hwmon/hwmon3"), {{"name", "BAT0"}});
    device(QStringLiteral("class/hwmon/hwmon4"), {{"name", "iwlwifi_1"}, {"temp1_input", "44000"}});
    device(QStringLiteral("class/hwmon/hwmon5"),
           {{"name", "coretemp"}, {"temp1_input", "56000"}, {"temp1_label", "Package id 0"},
            {"temp1_crit", "100000"}, {"temp1_max", "100000"}});
    for (int core = 0; core < 8; ++core) {
        const QString prefix = QStringLiteral("class/hwmon/hwmon5/temp%1_").arg(core + 2);
        writeFile(root, prefix + QStringLiteral("input"), QByteArray::number(50000 + core * 1000));
        writeFile(root, prefix + QStringLiteral("label"), "Core " + QByteArray::number(core));
        writeFile(root, prefix + QStringLiteral("crit"), "100000\n");
        writeFile(root, prefix + QStringLiteral("max"), "100000\n");
    }
    device(QStringLiteral("class/hwmon/hwmon6"), {{"name", "thinkpad"}, {"temp1_input", "52000"}});
    device(QStringLiteral("class/thermal/thermal_zone0"), {{"type", "acpitz"}, {"temp", "51000"}});
    device(QStringLiteral("class/thermal/thermal_zone1"),
           {{"type", "x86_pkg_temp"}, {"temp", "56000"}});
    device(QStringLiteral("class/thermal/cooling_device0"), {{"type", "Processor"}});
}

void writeSmallHistory(const QString& dataDir)
{
    // About 1 KiB: a handful of records and the total, as a fresh installation has.
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<plist version=\"1.0\">\n<dict>\n\t<key>records</key>\n\t<array>\n";
    for (int i = 0; i < 6; ++i) {
        xml += "\t\t<dict>\n\t\t\t<key>bytes</key>\n\t\t\t<integer>" +
               QByteArray::number(1'000'003 * (i + 1)) +
               "</integer>\n\t\t\t<key>date</key>\n\t\t\t<date>2024-03-0" +
               QByteArray::number(i + 1) + "T10:00:00Z</date>\n\t\t</dict>\n";
    }
    xml += "\t</array>\n\t<key>totalCleanedBytes</key>\n\t<integer>21000063</integer>\n"
           "</dict>\n</plist>\n";
    writeFile(dataDir, QStringLiteral("Korvanta/CleanupHistory.plist"), xml);
}

MemoryFigures currentMemory()
{
    MemoryFigures figures;
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        figures.rssKiB = kiBField(status.readAll(), "VmRSS:");
    QFile rollup(QStringLiteral("/proc/self/smaps_rollup"));
    if (rollup.open(QIODevice::ReadOnly))
        figures.pssKiB = kiBField(rollup.readAll(), "Pss:");
    return figures;
}

} // namespace kmb::bench
