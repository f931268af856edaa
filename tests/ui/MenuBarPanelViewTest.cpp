#include "UiTestSupport.h"

#include "status/SystemStatusMonitor.h"
#include "views/MenuBarPanelView.h"
#include "views/PanelButtons.h"

#include <QAbstractButton>
#include <QMenu>

namespace kmb {
namespace {

using test::clickAt;
using test::clickCentre;
using test::findNamed;
using test::labelText;

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale::c());
        auto owned = std::make_unique<test::ChosenSampler>();
        sampler = owned.get();
        sampler->memory = 1'500'000'000;
        sampler->volume =
            VolumeReading{QStringLiteral("Macintosh HD"), 1'500'000'000, 500'000'000'000};
        sampler->cleaned = 2'340'000'000;
        sampler->battery = {QStringLiteral("87%"), QStringLiteral("电源适配器")};
        sampler->cpuLoad = QStringLiteral("23%");
        sampler->cpuTemperature = QStringLiteral("48°C");
        monitor = std::make_unique<SystemStatusMonitor>(std::move(owned));
        monitor->refresh();
        panel = std::make_unique<MenuBarPanelView>(
            monitor.get(), [this] { ++opened; }, [this] { ++quit; }, [this] { return menu; });
        panel->show();
    }
    void TearDown() override { QLocale::setDefault(QLocale::system()); }

    QString cardText(const char* card, const char* part) const
    {
        return labelText(findNamed(panel.get(), card), part);
    }

    test::ChosenSampler* sampler = nullptr;
    std::unique_ptr<SystemStatusMonitor> monitor;
    std::unique_ptr<MenuBarPanelView> panel;
    QMenu* menu = nullptr;
    int opened = 0;
    int quit = 0;
};

TEST_F(PanelTest, LaysOutHeaderTwoCardRowsAndFooterOnTheFixedPanel)
{
    EXPECT_EQ(panel->size(), QSize(420, 384));
    EXPECT_EQ(test::geometryIn(panel.get(), "headerButton"), QRect(14, 14, 392, 70));
    EXPECT_EQ(test::geometryIn(panel.get(), "volumeCard"), QRect(14, 98, 190, 92));
    EXPECT_EQ(test::geometryIn(panel.get(), "memoryCard"), QRect(216, 98, 190, 92));
    EXPECT_EQ(test::geometryIn(panel.get(), "batteryCard"), QRect(14, 204, 190, 92));
    EXPECT_EQ(test::geometryIn(panel.get(), "cpuCard"), QRect(216, 204, 190, 92));
    EXPECT_EQ(test::geometryIn(panel.get(), "panelFooter"), QRect(14, 326, 392, 44));
    EXPECT_EQ(test::geometryIn(panel.get(), "cleanedTotalButton"), QRect(16, 328, 348, 42));
    EXPECT_EQ(test::geometryIn(panel.get(), "settingsButton"), QRect(376, 335, 28, 28));
    auto* gear = findNamed<QAbstractButton>(panel.get(), "settingsButton");
    EXPECT_EQ(gear->accessibleName(), QStringLiteral("设置"));
    EXPECT_TRUE(gear->text().isEmpty());
}

TEST_F(PanelTest, ShowsTheMonitorFiguresWithFileAndMemoryUnits)
{
    const char* const expected[][4] = {{"volumeCard", "Macintosh HD", "可用: 1.50 GB", nullptr},
                                       {"memoryCard", "内存", "可用: 1.40 GB", nullptr},
                                       {"batteryCard", "电池", "电源适配器", "87%"},
                                       {"cpuCard", "CPU", "加载: 23%", "48°C"}};
    for (const auto& card : expected) {
        EXPECT_EQ(cardText(card[0], "cardTitle"), QString::fromUtf8(card[1]));
        EXPECT_EQ(cardText(card[0], "cardValue"), QString::fromUtf8(card[2]));
        if (card[3]) {
            EXPECT_EQ(cardText(card[0], "cardDetail"), QString::fromUtf8(card[3]));
        }
        EXPECT_EQ(findNamed(panel.get(), card[0])->accessibleName(), QString::fromUtf8(card[1]));
    }
    EXPECT_EQ(labelText(panel.get(), "cleanedTotalText"),
              QStringLiteral("已累计清理 2.34 GB 垃圾"));
    EXPECT_EQ(findNamed(panel.get(), "cleanedTotalButton")->accessibleName(),
              QStringLiteral("已累计清理 2.34 GB 垃圾"));
}

// Counts the queued refreshes that reach the panel.
class QueuedCallCounter : public QObject {
public:
    int calls = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::MetaCall)
            ++calls;
        return false;
    }
};

TEST_F(PanelTest, RedrawsOnceAfterEachPassWithThatPassesValues)
{
    QCoreApplication::processEvents();
    QueuedCallCounter counter;
    panel->installEventFilter(&counter);

    sampler->volume = VolumeReading{QString(), -1'000, 0};
    sampler->memory = 0;
    sampler->cleaned = 0;
    sampler->battery = {QStringLiteral("—"), QStringLiteral("不可用")};
    sampler->cpuLoad = QStringLiteral("99%");
    sampler->cpuTemperature = QStringLiteral("--°C");
    monitor->refresh();
    // Nothing is read while the pass is still storing its values.
    EXPECT_EQ(cardText("cpuCard", "cardValue"), QStringLiteral("加载: 23%"));

    QCoreApplication::processEvents();
    EXPECT_EQ(counter.calls, 1);
    EXPECT_EQ(cardText("volumeCard", "cardTitle"), QString());
    EXPECT_EQ(cardText("volumeCard", "cardValue"), QStringLiteral("可用: -1.00 kB"));
    EXPECT_EQ(cardText("memoryCard", "cardValue"), QStringLiteral("可用: 0 bytes"));
    EXPECT_EQ(cardText("batteryCard", "cardValue"), QStringLiteral("不可用"));
    EXPECT_EQ(cardText("batteryCard", "cardDetail"), QStringLiteral("—"));
    EXPECT_EQ(cardText("cpuCard", "cardValue"), QStringLiteral("加载: 99%"));
    EXPECT_EQ(cardText("cpuCard", "cardDetail"), QStringLiteral("--°C"));
    EXPECT_EQ(labelText(panel.get(), "cleanedTotalText"),
              QStringLiteral("已累计清理 0 bytes 垃圾"));

    monitor->refresh();
    monitor->refresh();
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.calls, 2);
    panel->removeEventFilter(&counter);
}

TEST_F(PanelTest, ClosedItSkipsPassesAndShowsTheLatestFiguresWhenOpened)
{
    QCoreApplication::processEvents();
    panel->hide();
    QueuedCallCounter counter;
    panel->installEventFilter(&counter);

    sampler->cpuLoad = QStringLiteral("61%");
    monitor->refresh();
    sampler->cpuLoad = QStringLiteral("62%");
    sampler->cleaned = 5'000'000'000;
    monitor->refresh();
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.calls, 0);
    EXPECT_EQ(cardText("cpuCard", "cardValue"), QStringLiteral("加载: 23%"));

    // Up to date as it shows, before any queued work and before its first paint.
    panel->show();
    EXPECT_EQ(cardText("cpuCard", "cardValue"), QStringLiteral("加载: 62%"));
    EXPECT_EQ(labelText(panel.get(), "cleanedTotalText"),
              QStringLiteral("已累计清理 5.00 GB 垃圾"));

    // Shown again, it follows every pass.
    sampler->cpuLoad = QStringLiteral("7%");
    monitor->refresh();
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.calls, 1);
    EXPECT_EQ(cardText("cpuCard", "cardValue"), QStringLiteral("加载: 7%"));
    panel->removeEventFilter(&counter);
}

TEST_F(PanelTest, HeaderReleaseButtonsAndCleanedTotalOpenTheAppOnceEach)
{
    QWidget* header = findNamed(panel.get(), "headerButton");
    QWidget* footer = findNamed(panel.get(), "cleanedTotalButton");
    // Anywhere on the header card or the footer line, and on each release button.
    const QWidget* targets[] = {findNamed(header, "headerTitle"),
                                findNamed(header, "headerIcon"),
                                findNamed(header, "headerOpenSymbol"),
                                footer,
                                findNamed(footer, "cleanedTotalSymbol"),
                                findNamed(findNamed(panel.get(), "volumeCard"), "cardButton"),
                                findNamed(findNamed(panel.get(), "memoryCard"), "cardButton")};
    for (const QWidget* target : targets) {
        opened = 0;
        clickAt(panel.get(), target->mapTo(panel.get(), target->rect().center()));
        EXPECT_EQ(opened, 1) << target->objectName().toStdString();
    }
    opened = 0;
    clickAt(panel.get(), header->mapTo(panel.get(), QPoint(3, 3)));
    EXPECT_EQ(opened, 1);

    opened = 0;
    for (const char* card : {"batteryCard", "cpuCard"}) {
        QWidget* tile = findNamed(panel.get(), card);
        for (const QPoint point : {QPoint(20, 20), QPoint(95, 46), QPoint(170, 80)})
            clickAt(panel.get(), tile->mapTo(panel.get(), point));
    }
    clickCentre(panel.get(), findNamed(panel.get(), "settingsButton")); // no menu yet
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(quit, 0);
}

TEST_F(PanelTest, GearPopsUpTheCurrentSettingsMenuAndCallsNoAction)
{
    QMenu settings;
    settings.addAction(QStringLiteral("关于"));
    menu = &settings;
    clickCentre(panel.get(), findNamed(panel.get(), "settingsButton"));
    EXPECT_TRUE(settings.isVisible());
    settings.hide();
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(quit, 0);
    menu = nullptr;
}

TEST(PanelHeader, WithoutTheIconTheHeaderFollowsItsTitles)
{
    PanelHeaderButton withIcon(QStringLiteral(":/icons/AppIcon.svg"));
    PanelHeaderButton without(QStringLiteral(":/icons/NoSuchIcon.svg"));
    EXPECT_NE(withIcon.findChild<QWidget*>(QStringLiteral("headerIcon")), nullptr);
    EXPECT_EQ(without.findChild<QWidget*>(QStringLiteral("headerIcon")), nullptr);
    EXPECT_EQ(withIcon.sizeHint().height(), 70);
    EXPECT_LT(without.sizeHint().height(), 70);
}

TEST_F(PanelTest, RendersAt1xAnd2x)
{
    QCoreApplication::processEvents();
    test::saveGrab(panel->grab(), QStringLiteral("dashboard.png"));
    const QPixmap hiDpi = test::renderAt2x(panel.get());
    EXPECT_EQ(hiDpi.size(), QSize(840, 768));
    test::saveGrab(hiDpi, QStringLiteral("dashboard@2x.png"));
}

} // namespace
} // namespace kmb
