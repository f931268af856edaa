#include "UiTestSupport.h"

#include "views/ByteFormatting.h"

#include <limits>

namespace kmb {
namespace {

TEST(ByteFormatting, DiskSizesInThousandsMemorySizesIn1024s)
{
    const QLocale c = QLocale::c();
    EXPECT_EQ(formatFileBytes(1'500'000'000, c), QStringLiteral("1.50 GB"));
    EXPECT_EQ(formatFileBytes(std::numeric_limits<std::int64_t>::min(), c),
              QStringLiteral("-9.22 EB"));
    EXPECT_EQ(formatMemoryBytes(1'500'000'000, c), QStringLiteral("1.40 GB"));
    EXPECT_EQ(formatMemoryBytes(std::numeric_limits<std::uint64_t>::max(), c),
              QStringLiteral("16.00 EB"));
}

} // namespace
} // namespace kmb
