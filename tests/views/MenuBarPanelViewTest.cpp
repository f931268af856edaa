// The dashboard: its fixed layout, the model's figures in their units, what opens Korvanta.

#include "UiTestSupport.h"

#include "status/SystemStatusMonitor.h"
#include "views/MenuBarPanelView.h"

#include <QMenu>

using namespace kmb;

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
        const bool detailShown = findNamed(findNamed(&panel, row[0]), "cardDetail")->isVisible();
        EXPECT_EQ(QStringList({card(row[0], "cardTitle"), card(row[0], "cardValue"),
                               detailShown ? card(row[0], "cardDetail") : "(hidden)"}),
                  QStringList({row[1], row[2], row[3] ? row[3] : "(hidden)"}));
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
