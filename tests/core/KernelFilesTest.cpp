#include "status/KernelFiles.h"
#include "FakeSysTree.h"

#include <QElapsedTimer>
#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace kmb::kernelfiles;

TEST(KernelFiles, ParsesOnlyWholeInRangeDecimals)
{
    EXPECT_EQ(parseInt64("  -7\n"), -7);
    EXPECT_EQ(parseInt64("9223372036854775807"), INT64_MAX);
    for (const char* bad : {"9223372036854775808", "", "12abc", "+5", "N/A"})
        EXPECT_EQ(parseInt64(bad), std::nullopt) << bad;
    EXPECT_EQ(parseUInt64("-1"), std::nullopt);
}

TEST(KernelFiles, ReadsAreBoundedAndRefuseNonRegularFiles)
{
    const kmb::test::FakeSysTree tree;
    tree.write("big", "0123456789");
    tree.write("dir/x", "1");
    EXPECT_EQ(readBounded(tree.root() + "/big", 4), QByteArray("0123"));
    EXPECT_EQ(readIntegerAttribute(tree.root() + "/big"), 123456789);
    EXPECT_EQ(readBounded(tree.root() + "/missing", 100), std::nullopt);
    EXPECT_EQ(readBounded(tree.root() + "/dir", 100), std::nullopt);

    // A FIFO with no writer would block a plain open() forever.
    const QString fifo = tree.root() + "/fifo";
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(readAttribute(fifo), std::nullopt);
    EXPECT_LT(clock.elapsed(), 1000);
}

TEST(KernelFiles, NaturalOrderIsAStrictWeakOrder)
{
    QStringList names{"hwmon10", "a5x", "hwmon2", "a9", "a10", "BAT1", "BAT0", "a010"};
    std::sort(names.begin(), names.end(), naturalLess);
    EXPECT_EQ(names,
              (QStringList{"BAT0", "BAT1", "a5x", "a9", "a010", "a10", "hwmon2", "hwmon10"}));
    // std::sort needs transitivity; a5x sits between a10 and a9 in plain order.
    for (const QString& a : names) {
        EXPECT_FALSE(naturalLess(a, a));
        for (const QString& b : names) {
            for (const QString& c : names) {
                if (naturalLess(a, b) && naturalLess(b, c)) {
                    EXPECT_TRUE(naturalLess(a, c)) << a.toStdString() << c.toStdString();
                }
            }
        }
    }
}
