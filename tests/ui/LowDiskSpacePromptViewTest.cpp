#include "UiTestSupport.h"

#include "views/LowDiskSpacePromptView.h"

namespace kmb {
namespace {

using test::findNamed;
using test::labelText;

struct Calls {
    int dismissed = 0;
    int opened = 0;
};

std::unique_ptr<LowDiskSpacePromptView> makePrompt(Calls& calls, std::int64_t available,
                                                   std::int64_t total)
{
    auto prompt = std::make_unique<LowDiskSpacePromptView>(
        QStringLiteral("Macintosh HD"), available, total, [&calls] { ++calls.dismissed; },
        [&calls] { ++calls.opened; });
    prompt->show();
    return prompt;
}

TEST(LowDiskSpacePromptView, ShowsTheSnapshotInAFixedFrame)
{
    Calls calls;
    auto prompt = makePrompt(calls, 12'340'000'000, 500'000'000'000);
    EXPECT_EQ(prompt->size(), QSize(338, 202));
    EXPECT_EQ(labelText(prompt.get(), "promptHeadline"), QStringLiteral("磁盘空间快用完了！"));
    EXPECT_EQ(labelText(prompt.get(), "promptHint"),
              QStringLiteral("启动 Korvanta 移除不需要的项目并恢复空间。"));
    EXPECT_EQ(labelText(prompt.get(), "promptDiskName"), QStringLiteral("Macintosh HD"));
    EXPECT_EQ(labelText(prompt.get(), "promptAvailable"), QStringLiteral("可用： 12.34 GB"));

    EXPECT_EQ(test::geometryIn(prompt.get(), "promptHeadline").topLeft(), QPoint(20, 21));
    const QRect drive = test::geometryIn(prompt.get(), "promptDriveIcon");
    EXPECT_EQ(drive.x(), 23);
    EXPECT_EQ(drive.size(), QSize(33, 39));
    EXPECT_EQ(test::geometryIn(prompt.get(), "promptSeparator"), QRect(0, 146, 338, 1));
    EXPECT_EQ(test::geometryIn(prompt.get(), "promptButtonBar"), QRect(0, 147, 338, 55));
    EXPECT_EQ(test::geometryIn(prompt.get(), "ignoreButton"), QRect(20, 164, 68, 20));
    EXPECT_EQ(test::geometryIn(prompt.get(), "openButton"), QRect(190, 164, 128, 20));
}

TEST(LowDiskSpacePromptView, UsageBarFillFollowsTheClampedFraction)
{
    const struct {
        std::int64_t available, total;
        double fraction;
    } cases[] = {{12'340'000'000, 0, 0.9}, {-1, 100, 0.96}, {500, 100, 0.06}, {25, 100, 0.75}};
    for (const auto& row : cases) {
        Calls calls;
        auto prompt = makePrompt(calls, row.available, row.total);
        auto* bar = findNamed<UsageBar>(prompt.get(), "promptUsageBar");
        EXPECT_EQ(bar->height(), 6);
        EXPECT_NEAR(bar->fillWidth(), bar->width() * row.fraction, 1e-9) << row.available;
    }
    UsageBar narrow(0.06); // 6 px would be too thin to see: 10
    narrow.setFixedWidth(100);
    EXPECT_DOUBLE_EQ(narrow.fillWidth(), 10.0);
}

TEST(LowDiskSpacePromptView, EachButtonCallsOnlyItsOwnActionOncePerPress)
{
    Calls calls;
    auto prompt = makePrompt(calls, 1'000'000'000, 500'000'000'000);
    QWidget* ignore = findNamed(prompt.get(), "ignoreButton");
    QWidget* open = findNamed(prompt.get(), "openButton");
    EXPECT_EQ(ignore->accessibleName(), QStringLiteral("忽略"));
    EXPECT_EQ(open->accessibleName(), QStringLiteral("打开 Korvanta"));
    EXPECT_EQ(ignore->cursor().shape(), Qt::PointingHandCursor);

    test::clickCentre(prompt.get(), ignore);
    EXPECT_EQ(calls.dismissed, 1);
    EXPECT_EQ(calls.opened, 0);
    test::clickCentre(prompt.get(), open);
    test::clickAt(prompt.get(), QPoint(169, 60)); // the rest of the prompt is inert
    test::clickAt(prompt.get(), QPoint(150, 174));
    EXPECT_EQ(calls.dismissed, 1);
    EXPECT_EQ(calls.opened, 1);
}

TEST(LowDiskSpacePromptView, RendersToAPicture)
{
    Calls calls;
    auto prompt = makePrompt(calls, 12'340'000'000, 250'000'000'000);
    test::saveGrab(prompt->grab(), QStringLiteral("prompt.png"));
}

} // namespace
} // namespace kmb
