#include "status/RediscoveryGate.h"
#include "TestSupport.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace {

using namespace std::chrono_literals;

TEST(RediscoveryGate, DueAfterADirectoryChangeOr28Seconds)
{
    const kmb::test::FakeTree sys;
    const QString hwmon = sys.root() + "/class/hwmon";
    const QString thermal = sys.root() + "/class/thermal";
    ASSERT_TRUE(QDir().mkpath(thermal));
    std::chrono::steady_clock::time_point now{};
    kmb::RediscoveryGate gate({hwmon, thermal}, [&] { return now; });
    const struct {
        const char* what;
        std::function<void()> change;
        std::chrono::steady_clock::duration advance;
        bool due;
    } steps[] = {
        {"first call", nullptr, {}, true},
        {"nothing changed", nullptr, {}, false},
        {"27 s later", nullptr, 27s, false},
        {"28 s since the last search", nullptr, 1s, true},
        {"a directory appears", [&] { ASSERT_TRUE(QDir().mkpath(hwmon)); }, {}, true},
        // As the kernel does when it adds a device: whatever the granularity of file times.
        {"a device is added",
         [&] {
             const timespec times[2] = {{1000, 0}, {1000, 0}};
             ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(hwmon).constData(), times, 0), 0);
         },
         {},
         true},
        {"a directory goes away",
         [&] { ASSERT_TRUE(QDir(thermal).removeRecursively()); },
         {},
         true},
        {"still away", nullptr, 27s, false},
        {"a forced search restarts the 28 s", [&] { gate.searching(); }, 27s, false},
        {"28 s after it", nullptr, 1s, true},
    };
    for (const auto& step : steps) {
        if (step.change)
            step.change();
        now += step.advance;
        EXPECT_EQ(gate.searchDue(), step.due) << step.what;
    }
}

} // namespace
