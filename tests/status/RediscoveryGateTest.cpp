#include "status/RediscoveryGate.h"
#include "TestSupport.h"

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
    EXPECT_FALSE(gate.searchDue()) << "searched for it";
    now += 20s;
    gate.searching();
    now += 27s;
    EXPECT_FALSE(gate.searchDue()) << "a forced search restarts the 28 s";
    now += 1s;
    EXPECT_TRUE(gate.searchDue()) << "28 s after it";
}

} // namespace
