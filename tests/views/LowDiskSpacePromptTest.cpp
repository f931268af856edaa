// The low-disk prompt's figures: the free space as it reads, and how full its bar is.

#include "UiTestSupport.h"

#include "views/LowDiskSpacePrompt.h"

using namespace kmb;

TEST(LowDiskSpacePrompt, AmountAndBarFollowTheClampedFigures)
{
    const struct {
        std::int64_t available, total;
        const char* text;
        double fraction;
    } cases[] = {{12'340'000'000, 500'000'000'000, "可用： 12.34 GB", 0.96},
                 {49'999'999'999, 100'000'000'000, "可用： 50.00 GB", 0.50000000001},
                 {1'234'567'890, 0, "可用： 1.23 GB", 0.9},
                 {-5, 100, "可用： 0.00 GB", 0.96},
                 {20, 10, "可用： 0.00 GB", 0.06}, // more free than its size: none used
                 {94, 100, "可用： 0.00 GB", 0.06},
                 {4, 100, "可用： 0.00 GB", 0.96},
                 {0, 1, "可用： 0.00 GB", 0.96}, // a volume of one byte, all of it used
                 {INT64_MIN, INT64_MAX, "可用： 0.00 GB", 0.96}};
    for (const auto& row : cases) {
        EXPECT_EQ(promptAvailableText(row.available), QString::fromUtf8(row.text)) << row.available;
        EXPECT_NEAR(promptUsageFraction(row.available, row.total), row.fraction, 1e-9)
            << row.available << " of " << row.total;
    }
    EXPECT_DOUBLE_EQ(promptFillWidth(250, 0.5), 125);
    EXPECT_DOUBLE_EQ(promptFillWidth(100, 0.06), 10); // never narrower than 10
}
