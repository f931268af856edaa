// The painted views on the offscreen platform: layout, texts from the model, which control
// calls which action, and renderings at 1x and 2x under build/screenshots.

#include "UiTestSupport.h"

#include "status/SystemStatusMonitor.h"
#include "views/AboutWindowView.h"
#include "views/ByteFormatting.h"
#include "views/LowDiskSpacePrompt.h"
#include "views/MenuBarPanelView.h"

#include <QMenu>
#include <limits>

namespace kmb {
namespace {

using test::findNamed;
using test::labelText;

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale::c());
        sampler->memory = 1'500'000'000;
        sampler->volume = VolumeReading{QStringLiteral("Data"), 1'500'000'000, 500'000'000'000};
        sampler->cleaned = 2'340'000'000;
        sampler->battery = {QStringLiteral("87%"), QStringLiteral("充电中")};
        sampler->cpuLoad = QStringLiteral("23%");
        sampler->cpuTemperature = QStringLiteral("48°C");
        monitor.refresh();
        panel.show();
    }
    void TearDown() override { QLocale::setDefault(QLocale::system()); }
    QString card(const char* name, const char* part) const
    {
        return labelText(findNamed(&panel, name), part);
    }

    test::ChosenSampler* sampler = new test::ChosenSampler;
    SystemStatusMonitor monitor{std::unique_ptr<StatusSampler>(sampler)};
    QMenu menu;
    int opened = 0;
    MenuBarPanelView panel{&monitor, [this] { ++opened; }, [] {}, [this] { return &menu; }};
};

TEST_F(PanelTest, LaysOutTheFixedPanelAndShowsTheFiguresInTheirUnits)
{
    const struct {
        const char* name;
        QRect geometry;
    } layout[] = {
        {"headerButton", {14, 14, 392, 70}},        {"volumeCard", {14, 98, 190, 92}},
        {"memoryCard", {216, 98, 190, 92}},         {"batteryCard", {14, 204, 190, 92}},
        {"cpuCard", {216, 204, 190, 92}},           {"panelFooter", {14, 326, 392, 44}},
        {"cleanedTotalButton", {16, 328, 348, 42}}, {"settingsButton", {376, 335, 28, 28}}};
    for (const auto& row : layout) {
        const QWidget* widget = findNamed(&panel, row.name);
        EXPECT_EQ(QRect(widget->mapTo(&panel, QPoint()), widget->size()), row.geometry) << row.name;
    }
    const char* const texts[][4] = {{"volumeCard", "Data", "可用: 1.50 GB", nullptr},
                                    {"memoryCard", "内存", "可用: 1.40 GB", nullptr},
                                    {"batteryCard", "电池", "充电中", "87%"},
                                    {"cpuCard", "CPU", "加载: 23%", "48°C"}};
    for (const auto& row : texts) {
        EXPECT_EQ(card(row[0], "cardTitle"), QString::fromUtf8(row[1]));
        EXPECT_EQ(card(row[0], "cardValue"), QString::fromUtf8(row[2]));
        EXPECT_EQ(findNamed(findNamed(&panel, row[0]), "cardDetail")->isVisible(),
                  row[3] != nullptr);
        if (row[3]) {
            EXPECT_EQ(card(row[0], "cardDetail"), QString::fromUtf8(row[3]));
        }
    }
    EXPECT_EQ(labelText(&panel, "cleanedTotalText"), QStringLiteral("已累计清理 2.34 GB 垃圾"));
    test::saveGrabs(&panel, QStringLiteral("dashboard"));
}

TEST_F(PanelTest, FollowsEveryPassWhileShownAndCatchesUpWhenShownAgain)
{
    sampler->volume = VolumeReading{QString(), -1'000, 0};
    sampler->cleaned = 0;
    sampler->cpuLoad = QStringLiteral("99%");
    monitor.refresh();
    QCoreApplication::processEvents();
    EXPECT_EQ(card("volumeCard", "cardTitle"), QString());
    EXPECT_EQ(card("volumeCard", "cardValue"), QStringLiteral("可用: -1.00 kB"));
    EXPECT_EQ(card("cpuCard", "cardValue"), QStringLiteral("加载: 99%"));
    EXPECT_EQ(labelText(&panel, "cleanedTotalText"), QStringLiteral("已累计清理 0 bytes 垃圾"));

    panel.hide();
    sampler->cpuLoad = QStringLiteral("7%");
    monitor.refresh();
    QCoreApplication::processEvents();
    panel.show(); // up to date before its first paint, without waiting for a pass
    EXPECT_EQ(card("cpuCard", "cardValue"), QStringLiteral("加载: 7%"));
}

TEST_F(PanelTest, HeaderReleaseButtonsAndCleanedTotalOpenTheAppTheOtherTilesNothing)
{
    QWidget* volume = findNamed(&panel, "volumeCard");
    QWidget* memory = findNamed(&panel, "memoryCard");
    for (QWidget* target : {findNamed(&panel, "headerTitle"), findNamed(&panel, "headerOpenSymbol"),
                            findNamed(&panel, "cleanedTotalSymbol"),
                            findNamed(volume, "cardButton"), findNamed(memory, "cardButton")}) {
        opened = 0;
        test::clickCentre(&panel, target);
        EXPECT_EQ(opened, 1) << target->objectName().toStdString();
    }
    opened = 0;
    for (const char* name : {"batteryCard", "cpuCard", "volumeCard"})
        test::clickCentre(&panel, findNamed(&panel, name));
    EXPECT_EQ(opened, 0);
}

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
                 {200, 100, "可用： 0.00 GB", 0.06},
                 {94, 100, "可用： 0.00 GB", 0.06},
                 {4, 100, "可用： 0.00 GB", 0.96},
                 {std::numeric_limits<std::int64_t>::min(),
                  std::numeric_limits<std::int64_t>::max(), "可用： 0.00 GB", 0.96}};
    for (const auto& row : cases) {
        EXPECT_EQ(promptAvailableText(row.available), QString::fromUtf8(row.text)) << row.available;
        EXPECT_NEAR(promptUsageFraction(row.available, row.total), row.fraction, 1e-9)
            << row.available << " of " << row.total;
    }
    EXPECT_DOUBLE_EQ(promptFillWidth(250, 0.5), 125);
    EXPECT_DOUBLE_EQ(promptFillWidth(100, 0.06), 10); // never narrower than 10
}

TEST(AboutWindowView, VersionLineAndLayoutWithAndWithoutTheIcon)
{
    EXPECT_EQ(aboutVersionText(QStringLiteral("2.1"), QStringLiteral("210")),
              QStringLiteral("版本 2.1 (210)"));
    EXPECT_EQ(aboutVersionText(QString(), QStringLiteral("37")), QStringLiteral("版本 1.0.0 (37)"));
    AboutWindowView withIcon(QStringLiteral("版本 2.1 (210)"),
                             QStringLiteral(":/icons/AppIcon.svg"));
    AboutWindowView without(QStringLiteral("版本 2.1 (210)"), QStringLiteral(":/no/such.svg"));
    withIcon.show();
    without.show();
    EXPECT_EQ(without.findChild<QWidget*>(QStringLiteral("aboutIcon")), nullptr);
    // The name keeps the 18-point gap below where the icon was.
    const QWidget* icon = findNamed(&withIcon, "aboutIcon");
    EXPECT_EQ(findNamed(&withIcon, "aboutName")->y(), icon->geometry().bottom() + 1 + 18);
    EXPECT_EQ(labelText(&withIcon, "aboutVersion"), QStringLiteral("版本 2.1 (210)"));
    test::saveGrabs(&withIcon, QStringLiteral("about"));
}

TEST(Texts, ByteUnits)
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
