#include "views/ViewKit.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QResource>
#include <algorithm>
#include <cmath>

namespace kmb::viewkit {

namespace {

// Adds the embedded faces of textsCjkFamily to the application's fonts. Should one be
// missing or unreadable, its texts fall through to cjkFamily.
void registerTextFonts()
{
    for (const char* path :
         {":/fonts/KorvantaTextsCJK-Regular.otf", ":/fonts/KorvantaTextsCJK-Bold.otf"}) {
        const QResource resource(QString::fromLatin1(path));
        if (!resource.isValid()) {
            qWarning("kmb: %s is not among the resources", path);
            continue;
        }
        // Stored uncompressed: Qt and FreeType read the program's own mapped bytes, no copy.
        QByteArray data;
        if (resource.compressionAlgorithm() == QResource::NoCompression)
            data = QByteArray::fromRawData(reinterpret_cast<const char*>(resource.data()),
                                           static_cast<qsizetype>(resource.size()));
        else
            data = resource.uncompressedData();
        if (QFontDatabase::addApplicationFontFromData(data) < 0)
            qWarning("kmb: %s is not a font Qt can load", path);
    }
}

} // namespace

QFont uiFont(int pixelSize, QFont::Weight weight)
{
    // Before the first font names the family: views build their fonts on the GUI thread.
    static const bool registered = (registerTextFonts(), true);
    Q_UNUSED(registered);
    QFont font = QApplication::font();
    // Latin text in the family the desktop's font resolves to (a family list does not resolve
    // fontconfig aliases such as "Sans Serif"), Chinese in the CJK families: the faces drawn
    // with are these, whatever fontconfig's fallback order (under a non-Chinese locale it
    // puts the Japanese forms of the same font first). The full CJK face is loaded only
    // when a text needs a character the small one lacks.
    font.setFamilies({QFontInfo(font).family(), QString::fromLatin1(textsCjkFamily),
                      QString::fromLatin1(cjkFamily)});
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

void setTextColor(QWidget* widget, const QColor& color)
{
    QPalette palette = widget->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::WindowText, color);
        palette.setColor(group, QPalette::ButtonText, color);
        palette.setColor(group, QPalette::Text, color);
    }
    widget->setPalette(palette);
}

QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent)
{
    return styleLabel(new QLabel(text, parent), font, color);
}

QLabel* styleLabel(QLabel* label, const QFont& font, const QColor& color)
{
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    setTextColor(label, color);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    // Over-long texts are clipped at the label's edge instead of pushing the layout apart.
    label->setMinimumWidth(1);
    // One line of the font itself: a fallback font with taller metrics (CJK) must not make
    // one tile's lines sit lower than its neighbour's.
    label->setFixedHeight(QFontMetrics(font).height());
    return label;
}

QPainterPath continuousRoundedRect(const QRectF& rect, qreal radius)
{
    QPainterPath path;
    const qreal limit = std::min(rect.width(), rect.height()) / 2.0;
    // The smooth corner needs about 1.53 radii of edge; where it does not fit, fall back
    // to circular corners.
    constexpr qreal reach = 1.52866483;
    if (radius <= 0 || radius * reach > limit) {
        const qreal r = std::clamp(radius, 0.0, limit);
        path.addRoundedRect(rect, r, r);
        return path;
    }
    const qreal r = radius;
    const qreal l = rect.left(), t = rect.top(), ri = rect.right(), b = rect.bottom();
    // One corner as seen from the top-right, in offsets (along the edge, across it).
    struct Step {
        qreal c1a, c1b, c2a, c2b, ea, eb;
    };
    static constexpr Step steps[] = {
        {1.08849323, 0.0, 0.86840689, 0.0, 0.63149399, 0.07491100},
        {0.37282392, 0.16905899, 0.16905899, 0.37282401, 0.07491176, 0.63149399},
        {0.0, 0.86840701, 0.0, 1.08849299, 0.0, reach},
    };
    // Map (distance from the corner along the incoming edge, distance along the outgoing
    // edge) to points for each corner, walking clockwise.
    auto corner = [&](auto&& point) {
        for (const Step& s : steps)
            path.cubicTo(point(s.c1a, s.c1b), point(s.c2a, s.c2b), point(s.ea, s.eb));
    };
    path.moveTo(l + reach * r, t);
    path.lineTo(ri - reach * r, t);
    corner([&](qreal a, qreal c) { return QPointF(ri - a * r, t + c * r); });
    path.lineTo(ri, b - reach * r);
    corner([&](qreal a, qreal c) { return QPointF(ri - c * r, b - a * r); });
    path.lineTo(l + reach * r, b);
    corner([&](qreal a, qreal c) { return QPointF(l + a * r, b - c * r); });
    path.lineTo(l, t + reach * r);
    corner([&](qreal a, qreal c) { return QPointF(l + c * r, t + a * r); });
    path.closeSubpath();
    return path;
}

QPainterPath capsule(const QRectF& rect)
{
    QPainterPath path;
    const qreal r = std::min(rect.width(), rect.height()) / 2.0;
    path.addRoundedRect(rect, r, r);
    return path;
}

qreal deviceScale(const QPainter& painter)
{
    qreal scale = 1.0;
    if (const QPaintDevice* device = painter.device())
        scale = device->devicePixelRatioF();
    // When a widget is rendered into a pixmap the painter is redirected: the engine's
    // device is the one that receives the pixels.
    if (const QPaintEngine* engine = painter.paintEngine(); engine && engine->paintDevice())
        scale = std::max(scale, engine->paintDevice()->devicePixelRatioF());
    const qreal transformScale =
        std::hypot(painter.worldTransform().m11(), painter.worldTransform().m12());
    if (transformScale > 0 && std::isfinite(transformScale))
        scale *= transformScale;
    return std::clamp(scale, 1.0, 8.0);
}

} // namespace kmb::viewkit
