#include "UiTestSupport.h"

#include "views/AppIcon.h"
#include "views/Glyphs.h"
#include "views/MetricCard.h"
#include "views/Palette.h"
#include "views/SettingsMenuButton.h"

#include <QImage>
#include <QPainter>

namespace kmb {
namespace {

QImage renderAt(QWidget* widget, qreal ratio)
{
    QPixmap pixmap(widget->size() * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(palette::panelGradientStart());
    widget->render(&pixmap);
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

// Sum of squared differences between neighbouring pixels (grey levels) in a region. A
// sharp edge changes within one pixel; the same edge drawn at half the resolution and
// enlarged spreads over two, which halves this sum.
double edgeEnergy(const QImage& image, const QRect& region)
{
    double energy = 0;
    for (int y = region.top(); y < region.bottom(); ++y) {
        for (int x = region.left(); x < region.right(); ++x) {
            const int here = qGray(image.pixel(x, y));
            const int right = qGray(image.pixel(x + 1, y));
            const int below = qGray(image.pixel(x, y + 1));
            energy += double(here - right) * (here - right) + double(here - below) * (here - below);
        }
    }
    return energy;
}

QRect scaled(const QRect& rect, int factor)
{
    return {rect.topLeft() * factor, rect.size() * factor};
}

// What a 2x screen would show if the view were only drawn at 1x and enlarged.
QImage enlarged(const QImage& image)
{
    return image.scaled(image.size() * 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

TEST(HiDpi, GlyphsAndTextAreDrawnAtTheScreensResolution)
{
    // On the dashboard's violet, where the translucent tile is seen.
    QWidget backdrop;
    backdrop.setAutoFillBackground(true);
    backdrop.setPalette(QPalette(palette::panelGradientStart()));
    backdrop.setFixedSize(190, 92);
    auto* card =
        new MetricCard({QStringLiteral("CPU"), QStringLiteral("加载: 23%"), QStringLiteral("48°C"),
                        std::nullopt, QStringLiteral("cpu"), palette::systemYellow(), nullptr},
                       &backdrop);
    backdrop.show();
    const QImage at1x = renderAt(&backdrop, 1);
    const QImage at2x = renderAt(&backdrop, 2);
    ASSERT_EQ(at2x.size(), QSize(380, 184));
    test::saveGrab(QPixmap::fromImage(at2x), QStringLiteral("card@2x.png"));

    const QImage blurry = enlarged(at1x);
    for (const char* part : {"cardIcon", "cardTitle", "cardValue", "cardDetail"}) {
        const QRect region = scaled(test::geometryIn(card, part), 2);
        ASSERT_FALSE(region.isEmpty()) << part;
        const double sharp = edgeEnergy(at2x, region);
        const double soft = edgeEnergy(blurry, region);
        EXPECT_GT(sharp, 1.3 * soft) << part << ": no finer detail at 2x than an enlarged 1x";
        // And not merely a copy of the 1x pixels blown up.
        const QImage coarse = at1x.scaled(at1x.size() * 2);
        EXPECT_NE(at2x.copy(region), coarse.copy(region)) << part;
    }
}

TEST(HiDpi, TheGearIsDrawnAtTheScreensResolution)
{
    SettingsMenuButton gear([] { return nullptr; });
    gear.setFixedSize(SettingsMenuButton::slotSize, SettingsMenuButton::slotSize);
    gear.show();
    const QImage at1x = renderAt(&gear, 1);
    const QImage at2x = renderAt(&gear, 2);
    const QRect whole(QPoint(0, 0), at2x.size());
    EXPECT_GT(edgeEnergy(at2x, whole), 1.3 * edgeEnergy(enlarged(at1x), whole));
}

TEST(HiDpi, TheTrayIconHasPixmapsForDoubleDensity)
{
    const QIcon icon = appIcon();
    ASSERT_FALSE(icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    for (const int side : {16, 18, 22, 24, 32}) {
        SCOPED_TRACE(side);
        EXPECT_TRUE(sizes.contains(QSize(side, side)));
        EXPECT_TRUE(sizes.contains(QSize(side * 2, side * 2)));
        const QPixmap hiDpi = icon.pixmap(QSize(side, side), 2.0);
        EXPECT_EQ(hiDpi.size(), QSize(side * 2, side * 2));
        EXPECT_DOUBLE_EQ(hiDpi.devicePixelRatio(), 2.0);
        // Drawn at that size, not the 1x picture enlarged.
        const QImage native = hiDpi.toImage().convertToFormat(QImage::Format_ARGB32);
        const QImage blownUp = icon.pixmap(QSize(side, side), 1.0)
                                   .toImage()
                                   .convertToFormat(QImage::Format_ARGB32)
                                   .scaled(side * 2, side * 2);
        EXPECT_NE(native, blownUp);
    }
}

} // namespace
} // namespace kmb
