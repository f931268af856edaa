#include "UiTestSupport.h"

#include "views/AboutWindowView.h"
#include "views/ByteFormatting.h"
#include "views/LowDiskSpacePrompt.h"
#include "views/Palette.h"
#include "views/PanelContent.h"
#include "views/SettingsMenuButton.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace kmb {
namespace {

const QLocale c = QLocale::c();

TEST(ByteFormatting, FileSizesUseUnitsOfOneThousand)
{
    const struct {
        std::int64_t bytes;
        const char* text;
    } cases[] = {{0, "0 bytes"},
                 {999, "999 bytes"},
                 {1'000, "1.00 kB"},
                 {1'500'000'000, "1.50 GB"},
                 {12'340'000'000, "12.34 GB"},
                 {-1'500'000'000, "-1.50 GB"},
                 {std::numeric_limits<std::int64_t>::max(), "9.22 EB"},
                 {std::numeric_limits<std::int64_t>::min(), "-9.22 EB"}};
    for (const auto& row : cases)
        EXPECT_EQ(formatFileBytes(row.bytes, c), QString::fromUtf8(row.text)) << row.bytes;
}

TEST(ByteFormatting, MemorySizesUseUnitsOf1024UpToTheFullUnsignedRange)
{
    const struct {
        std::uint64_t bytes;
        const char* text;
    } cases[] = {{0, "0 bytes"},
                 {1'024, "1.00 kB"},
                 {1'500'000'000, "1.40 GB"},
                 {std::uint64_t(1) << 62, "4.00 EB"},
                 {std::uint64_t(1) << 63, "8.00 EB"},
                 {std::numeric_limits<std::uint64_t>::max(), "16.00 EB"}};
    for (const auto& row : cases)
        EXPECT_EQ(formatMemoryBytes(row.bytes, c), QString::fromUtf8(row.text)) << row.bytes;
}

TEST(PanelContent, CardsHaveTheirSymbolAccentAndOnlyVolumeAndMemoryOpenTheApp)
{
    int opened = 0;
    const auto cards = panelCards(
        PanelFigures{}, [&opened] { ++opened; }, c);
    const struct {
        const char* icon;
        QColor accent;
        bool detail, button;
    } expected[] = {{"internaldrive", palette::systemYellow(), false, true},
                    {"memorychip", palette::white(), false, true},
                    {"battery.100", palette::white(), true, false},
                    {"cpu", palette::systemYellow(), true, false}};
    for (std::size_t i = 0; i < cards.size(); ++i) {
        EXPECT_EQ(cards[i].icon, QString::fromUtf8(expected[i].icon));
        EXPECT_EQ(cards[i].accent, expected[i].accent) << i;
        EXPECT_EQ(hasDetail(cards[i]), expected[i].detail) << i;
        EXPECT_EQ(hasActionButton(cards[i]), expected[i].button) << i;
        if (cards[i].action)
            cards[i].action();
    }
    EXPECT_EQ(opened, 2);
}

TEST(LowDiskSpacePrompt, AvailableTextIsDecimalGigabytesNeverNegative)
{
    const struct {
        std::int64_t bytes;
        const char* text;
    } cases[] = {{12'340'000'000, "可用： 12.34 GB"},
                 {1'234'567'890, "可用： 1.23 GB"},
                 {49'999'999'999, "可用： 50.00 GB"},
                 {0, "可用： 0.00 GB"},
                 {-5, "可用： 0.00 GB"},
                 {std::numeric_limits<std::int64_t>::min(), "可用： 0.00 GB"},
                 {std::numeric_limits<std::int64_t>::max(), "可用： 9223372036.85 GB"}};
    for (const auto& row : cases)
        EXPECT_EQ(promptAvailableText(row.bytes), QString::fromUtf8(row.text)) << row.bytes;
}

TEST(LowDiskSpacePrompt, UsageFractionIsClampedAndDefaultsWithoutACapacity)
{
    constexpr auto min64 = std::numeric_limits<std::int64_t>::min();
    constexpr auto max64 = std::numeric_limits<std::int64_t>::max();
    const struct {
        std::int64_t available;
        std::int64_t total;
        double fraction;
    } cases[] = {{10, 0, 0.9},        {10, -100, 0.9},    {-10, 100, 0.96},     {200, 100, 0.06},
                 {94, 100, 0.06},     {93, 100, 0.07},    {50, 100, 0.5},       {4, 100, 0.96},
                 {1, 100, 0.96},      {min64, 100, 0.96}, {min64, max64, 0.96}, {0, max64, 0.96},
                 {max64, max64, 0.06}};
    for (const auto& row : cases)
        EXPECT_NEAR(promptUsageFraction(row.available, row.total), row.fraction, 1e-9)
            << row.available << " of " << row.total;
}

TEST(LowDiskSpacePrompt, FillWidthIsTheFractionOfTheTrackButAtLeastTen)
{
    EXPECT_DOUBLE_EQ(promptFillWidth(200, 0.5), 100);
    EXPECT_DOUBLE_EQ(promptFillWidth(200, 0.96), 192);
    EXPECT_DOUBLE_EQ(promptFillWidth(160, 0.06), 10);
    EXPECT_DOUBLE_EQ(promptFillWidth(0, 0.9), 10);
}

TEST(SettingsMenuButton, MenuAnchorsNearTheTopRightAndNeverLeftOfTheButton)
{
    EXPECT_EQ(settingsMenuAnchor(28), QPointF(22, -6));
    EXPECT_EQ(settingsMenuAnchor(4), QPointF(0, -6));
    EXPECT_EQ(settingsMenuAnchor(6), QPointF(0, -6));
    EXPECT_EQ(settingsMenuAnchor(std::nan("")), QPointF(0, -6));
}

TEST(AboutWindow, VersionLineFallsBackForMissingParts)
{
    EXPECT_EQ(aboutVersionText("2.1", "210"), QStringLiteral("版本 2.1 (210)"));
    EXPECT_EQ(aboutVersionText("1.2.0", "37"), QStringLiteral("版本 1.2.0 (37)"));
    EXPECT_EQ(aboutVersionText(QString(), "37"), QStringLiteral("版本 1.0.0 (37)"));
    EXPECT_EQ(aboutVersionText("1.2.0", QString()), QStringLiteral("版本 1.2.0 (dev)"));
}

} // namespace
} // namespace kmb
