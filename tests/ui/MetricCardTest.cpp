#include "UiTestSupport.h"

#include "views/Glyphs.h"
#include "views/MetricCard.h"
#include "views/Palette.h"

namespace kmb {
namespace {

using test::findNamed;

MetricCardContent content(std::optional<QString> detail, std::optional<QString> actionTitle,
                          std::function<void()> action)
{
    return {QStringLiteral("CPU"),  QStringLiteral("加载: 23%"), std::move(detail),
            std::move(actionTitle), QStringLiteral("cpu"),       palette::systemYellow(),
            std::move(action)};
}

TEST(MetricCard, KeepsItsSizeAndShowsOnlyTheGivenParts)
{
    const struct {
        std::optional<QString> detail;
        std::optional<QString> actionTitle;
        bool withAction, buttonShown;
    } cases[] = {
        {std::nullopt, std::nullopt, false, false},
        {QString(), std::nullopt, false, false}, // an empty detail is still a detail
        {std::nullopt, QStringLiteral("释放"), false, false},
        {QStringLiteral("48°C"), std::nullopt, true, false},
        {QStringLiteral("48°C"), QStringLiteral("释放"), true, true},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.detail.value_or("<none>").toStdString() + " / " +
                     row.actionTitle.value_or("<none>").toStdString() + " / " +
                     (row.withAction ? "action" : "no action"));
        MetricCard card(
            content(row.detail, row.actionTitle, row.withAction ? [] {} : std::function<void()>{}));
        card.show();
        EXPECT_EQ(card.size(), QSize(190, 92));
        auto* detail = findNamed<QLabel>(&card, "cardDetail");
        QWidget* button = findNamed(&card, "cardButton");
        EXPECT_EQ(detail->isVisible(), row.detail.has_value());
        EXPECT_EQ(button->isVisible(), row.buttonShown);
        if (row.detail) { // top-right, level with the title
            EXPECT_EQ(detail->text(), *row.detail);
            EXPECT_EQ(detail->mapTo(&card, QPoint(0, 0)).y(), 14);
            EXPECT_EQ(findNamed(&card, "cardTitle")->mapTo(&card, QPoint(0, 0)).y(), 14);
        }
        if (row.buttonShown) { // bottom-right, inside the padding
            EXPECT_EQ(button->accessibleName(), *row.actionTitle);
            const QRect inCard(button->mapTo(&card, QPoint(0, 0)), button->size());
            EXPECT_EQ(inCard.right(), 190 - 14 - 1);
            EXPECT_EQ(inCard.bottom(), 92 - 14 - 1);
        }
    }
}

TEST(MetricCard, EachPressCallsTheActionOnceAndNothingElseDoes)
{
    int calls = 0;
    const auto count = [&calls] { ++calls; };
    MetricCard card(content(QStringLiteral("48°C"), QStringLiteral("释放"), count));
    card.show();
    QWidget* button = findNamed(&card, "cardButton");
    test::clickCentre(&card, button);
    EXPECT_EQ(calls, 1);
    // Refilling the tile must not stack up connections.
    card.setContent(content(QStringLiteral("49°C"), QStringLiteral("释放"), count));
    card.setContent(content(QStringLiteral("50°C"), QStringLiteral("释放"), count));
    test::clickCentre(&card, button);
    EXPECT_EQ(calls, 2);

    for (const QPoint elsewhere : {QPoint(5, 5), QPoint(40, 20), QPoint(170, 20), QPoint(95, 60)})
        test::clickAt(&card, elsewhere);
    EXPECT_EQ(calls, 2);
}

TEST(MetricCard, AccentColoursValueAndDetailOnly)
{
    MetricCard card(content(QStringLiteral("48°C"), std::nullopt, nullptr));
    const auto color = [&card](const char* name) {
        return findNamed(&card, name)->palette().color(QPalette::WindowText);
    };
    EXPECT_EQ(color("cardValue"), palette::systemYellow());
    EXPECT_EQ(color("cardDetail"), palette::systemYellow());
    EXPECT_EQ(color("cardTitle"), palette::white());
    EXPECT_EQ(findNamed<GlyphView>(&card, "cardIcon")->tint(), palette::cardSymbol());
}

TEST(MetricCard, RendersToAPicture)
{
    // The tile is translucent: show it on the dashboard's violet, as it is seen there.
    QWidget backdrop;
    backdrop.setAutoFillBackground(true);
    backdrop.setPalette(QPalette(palette::panelGradientStart()));
    backdrop.setFixedSize(210, 112);
    auto* card =
        new MetricCard(content(QStringLiteral("48°C"), QStringLiteral("释放"), [] {}), &backdrop);
    card->move(10, 10);
    backdrop.show();
    test::saveGrab(backdrop.grab(), QStringLiteral("card.png"));
}

} // namespace
} // namespace kmb
