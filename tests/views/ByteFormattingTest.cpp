#include "UiTestSupport.h"

#include "views/ByteFormatting.h"

using namespace kmb;

TEST(ByteFormatting, DiskSizesInThousandsMemorySizesIn1024s)
{
    const QLocale c = QLocale::c();
    EXPECT_EQ(formatFileBytes(1'500'000'000, c), QStringLiteral("1.50 GB"));
    EXPECT_EQ(formatFileBytes(INT64_MIN, c), QStringLiteral("-9.22 EB"));
    EXPECT_EQ(formatMemoryBytes(1'500'000'000, c), QStringLiteral("1.40 GB"));
    EXPECT_EQ(formatMemoryBytes(UINT64_MAX, c), QStringLiteral("16.00 EB"));
}
