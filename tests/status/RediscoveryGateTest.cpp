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
    EXPECT_TRUE(gate.searchDue()) << "first call";
    EXPECT_FALSE(gate.searchDue()) << "nothing changed";
    now += 27s;
    EXPECT_FALSE(gate.searchDue()) << "27 s later";
    now += 1s;
    EXPECT_TRUE(gate.searchDue()) << "28 s since the last search";
    ASSERT_TRUE(QDir().mkpath(hwmon));
    EXPECT_TRUE(gate.searchDue()) << "a directory appears";
    // As the kernel does when it adds a device: whatever the granularity of file times.
    const timespec times[2] = {{1000, 0}, {1000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(hwmon).constData(), times, 0), 0);
    EXPECT_TRUE(gate.searchDue()) << "a device is added";
    ASSERT_TRUE(QDir(thermal).removeRecursively());
    EXPECT_TRUE(gate.searchDue()) << "a directory goes away";
    now += 27s;
    EXPECT_FALSE(gate.searchDue()) << "still away";
    gate.searching();
    now += 27s;
    EXPECT_FALSE(gate.searchDue()) << "a forced search restarts the 28 s";
    now += 1s;
    EXPECT_TRUE(gate.searchDue()) << "28 s after it";
}

} // namespace
