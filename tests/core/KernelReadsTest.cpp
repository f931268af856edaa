// The bounded file reader that every reader of the program goes through, the kernel files
// kept open between passes, and the gate that spares sensorless machines a search per pass.

#include "TestSupport.h"
#include "status/BoundedFile.h"
#include "status/CpuTemperatureReader.h"
#include "status/KernelFiles.h"
#include "status/PowerSupplyReader.h"
#include "status/RediscoveryGate.h"

#include <QDir>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

qsizetype openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size();
}

// Sets a directory's mtime, as the kernel does when it adds a device: a change the gate must
// see whatever the granularity of the file system's times.
void markChanged(const QString& dir, int second)
{
    const timespec times[2] = {{second, 0}, {second, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(dir).constData(), times, 0), 0);
}

// What the launcher logs when a desktop file cannot be read, and the bound noticed while
// reading (the hostile paths themselves are the history reader's table).
TEST(BoundedFile, RefusalsSayWhy)
{
    const kmb::test::FakeTree tree;
    tree.write("ten", "0123456789");
    ASSERT_EQ(::mkfifo(QFile::encodeName(tree.path("fifo")).constData(), 0600), 0);
    const std::tuple<QString, qint64, std::optional<QByteArray>, int, QString> cases[] = {
        {tree.path("ten"), 10, QByteArray("0123456789"), 0, {}},
        {tree.path("ten"), 9, std::nullopt, 0, "larger than 9 bytes"},
        {tree.path("missing"), 10, std::nullopt, ENOENT, std::strerror(ENOENT)},
        {tree.path("fifo"), 10, std::nullopt, 0, "not a regular file"},
        // Reports a size of 0 and has more: seen as it is read, not from fstat.
        {"/proc/self/status", 16, std::nullopt, 0, "larger than 16 bytes"}};
    for (const auto& [path, maxBytes, bytes, errorNumber, reason] : cases) {
        const kmb::FileBytes read = kmb::readRegularFile(path, maxBytes);
        EXPECT_EQ(read.bytes, bytes) << path.toStdString();
        EXPECT_EQ(std::pair(read.error.errorNumber, read.error.reason),
                  std::pair(bytes ? 0 : errorNumber, bytes ? QString() : reason))
            << path.toStdString();
    }
}

struct KeptOpenStep {
    const char* what;
    std::function<void(const kmb::test::FakeTree&)> change;
    std::optional<QByteArray> expected;
};

TEST(KeptOpenFile, HoldsOneDescriptorAndFollowsWhatThePathNames)
{
    const kmb::test::FakeTree tree;
    const QString path = tree.root() + "/attr";
    const QByteArray native = QFile::encodeName(path);
    tree.write("attr", "first value\n");
    const qsizetype before = openDescriptors();
    kmb::KeptOpenFile file(path);
    auto replaceWith = [&](const QByteArray& bytes) {
        return [&, bytes](const kmb::test::FakeTree& t) {
            t.write("staged", bytes);
            ASSERT_EQ(::rename(QFile::encodeName(t.root() + "/staged").constData(), native), 0);
        };
    };
    const KeptOpenStep steps[] = {
        {"first read", nullptr, QByteArray("first value\n")},
        {"read again", nullptr, QByteArray("first value\n")},
        {"rewritten in place, shorter: read from the start",
         [](const auto& t) { t.write("attr", "2\n"); }, QByteArray("2\n")},
        {"replaced by rename", replaceWith("renamed\n"), QByteArray("renamed\n")},
        {"removed", [&](const auto&) { ASSERT_EQ(::unlink(native), 0); }, std::nullopt},
        {"back", [](const auto& t) { t.write("attr", "back\n"); }, QByteArray("back\n")},
        {"a FIFO in its place",
         [&](const auto&) {
             ASSERT_EQ(::unlink(native), 0);
             ASSERT_EQ(::mkfifo(native, 0600), 0);
         },
         std::nullopt},
        {"a file again", replaceWith("again\n"), QByteArray("again\n")},
    };
    for (const KeptOpenStep& step : steps) {
        if (step.change)
            step.change(tree);
        EXPECT_EQ(file.read(kmb::kernelfiles::attributeLimit), step.expected) << step.what;
        // Open while there is a file to read, never more than one descriptor.
        EXPECT_EQ(openDescriptors(), before + (step.expected ? 1 : 0)) << step.what;
    }
}

TEST(KeptOpenFile, KernelFilesAreReadAfreshFromTheStart)
{
    kmb::KeptOpenFile stat(QStringLiteral("/proc/self/stat"));
    const std::optional<QByteArray> first = stat.read(4096);
    ASSERT_TRUE(first.has_value());
    EXPECT_TRUE(first->startsWith(QByteArray::number(::getpid()) + " ("));
    const std::optional<QByteArray> second = stat.read(4096);
    ASSERT_TRUE(second.has_value());
    EXPECT_TRUE(second->startsWith(QByteArray::number(::getpid()) + " (")) << "not from 0";
    EXPECT_EQ(stat.read(8), first->first(8)) << "bounded";
}

TEST(AttributeFiles, SweepClosesTheFilesNotReadSinceTheLastSweep)
{
    const kmb::test::FakeTree tree;
    tree.writeDevice("BAT0", "capacity=57;status=Full");
    const qsizetype before = openDescriptors();
    kmb::kernelfiles::AttributeFiles files;
    EXPECT_EQ(files.readInteger(tree.root() + "/BAT0/capacity"), 57);
    EXPECT_EQ(files.readText(tree.root() + "/BAT0/status"), QStringLiteral("Full"));
    files.sweep();
    EXPECT_EQ(openDescriptors(), before + 2);
    EXPECT_EQ(files.readInteger(tree.root() + "/BAT0/capacity"), 57);
    files.sweep();
    EXPECT_EQ(openDescriptors(), before + 1);
    files.sweep();
    EXPECT_EQ(openDescriptors(), before);
}

struct GateStep {
    const char* what;
    std::function<void()> change;
    Clock::duration advance;
    bool due;
};

TEST(RediscoveryGate, DueAfterADirectoryChangeOrTheIntervalOnly)
{
    const kmb::test::FakeTree sys;
    const QString hwmon = sys.root() + "/class/hwmon";
    const QString thermal = sys.root() + "/class/thermal";
    ASSERT_TRUE(QDir().mkpath(thermal));
    Clock::time_point now{};
    kmb::RediscoveryGate gate({hwmon, thermal}, [&] { return now; });
    const auto almost = kmb::RediscoveryGate::kSearchAgainAfter - std::chrono::seconds(1);
    const GateStep steps[] = {
        {"first call", nullptr, {}, true},
        {"nothing changed", nullptr, {}, false},
        {"nearly the interval later", nullptr, almost, false},
        {"the interval since the last search", nullptr, std::chrono::seconds(1), true},
        {"a directory appears", [&] { ASSERT_TRUE(QDir().mkpath(hwmon)); }, {}, true},
        {"unchanged since", nullptr, {}, false},
        {"a device is added", [&] { markChanged(hwmon, 1000); }, {}, true},
        {"a directory goes away",
         [&] { ASSERT_TRUE(QDir(thermal).removeRecursively()); },
         {},
         true},
        {"still away", nullptr, almost, false},
        {"a forced search restarts the interval", [&] { gate.searching(); }, almost, false},
    };
    for (const GateStep& step : steps) {
        if (step.change)
            step.change();
        now += step.advance;
        EXPECT_EQ(gate.searchDue(), step.due) << step.what;
    }
}

// A device that turns usable without its class directory changing (an attribute rewritten in
// place) is not searched for on every pass, and is found within the interval.
TEST(RediscoveryGate, SensorlessAndBatterylessReadersSearchOnlyWhenDue)
{
    const kmb::test::FakeTree sys;
    sys.writeDevice("class/hwmon/hwmon0", "name=coretemp;temp1_label=Package id 0;temp1_input=");
    sys.writeDevice("class/power_supply/BAT0", "type=Battery;present=0;capacity=80");
    Clock::time_point now{};
    const kmb::CpuTemperatureReader temperature(sys.root(), [&] { return now; });
    const kmb::PowerSupplyReader power(sys.root(), [&] { return now; });
    EXPECT_EQ(temperature.readPackageCelsius(), std::nullopt);
    EXPECT_EQ(power.readFirstPowerSource(), std::nullopt);

    sys.write("class/hwmon/hwmon0/temp1_input", "47000");
    sys.write("class/power_supply/BAT0/present", "1");
    now += kmb::RediscoveryGate::kSearchAgainAfter - std::chrono::seconds(1);
    EXPECT_EQ(temperature.readPackageCelsius(), std::nullopt) << "searched before it was due";
    EXPECT_EQ(power.readFirstPowerSource(), std::nullopt) << "searched before it was due";

    now += std::chrono::seconds(1);
    EXPECT_EQ(temperature.readPackageCelsius(), 47);
    const std::optional<kmb::PowerSourceDescription> battery = power.readFirstPowerSource();
    ASSERT_TRUE(battery.has_value());
    EXPECT_EQ(battery->currentCapacity, 80);

    // Found once, they are read on every call.
    sys.write("class/hwmon/hwmon0/temp1_input", "48000");
    sys.write("class/power_supply/BAT0/capacity", "79");
    EXPECT_EQ(temperature.readPackageCelsius(), 48);
    EXPECT_EQ(power.readFirstPowerSource()->currentCapacity, 79);
}

} // namespace
