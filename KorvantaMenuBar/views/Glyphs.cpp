#include "views/Glyphs.h"

#include "views/ViewKit.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>
#include <cmath>

// The resource file is compiled into a static library: register it before first use.
static void registerViewResources()
{
    static const bool registered = [] {
        if (!QFile::exists(QStringLiteral(":/glyphs/gearshape.fill.svg")))
            Q_INIT_RESOURCE(resources);
        return true;
    }();
    (void)registered;
}

namespace kmb {

namespace glyphs {

void registerResources()
{
    registerViewResources();
}

QString resourcePath(const QString& name)
{
    return QStringLiteral(":/glyphs/%1.svg").arg(name);
}

bool exists(const QString& name)
{
    registerViewResources();
    return !name.isEmpty() && QFile::exists(resourcePath(name));
}

QImage tinted(const QString& name, const QSize& pixelBox, const QColor& tint)
{
    if (pixelBox.isEmpty() || !exists(name))
        return {};
    QSvgRenderer renderer(resourcePath(name));
    if (!renderer.isValid())
        return {};
    renderer.setAspectRatioMode(Qt::KeepAspectRatio);
    QImage image(pixelBox, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(pixelBox)));
    // Keep the glyph's coverage, take the colour (and opacity) of the tint.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), tint);
    painter.end();
    return image;
}

void paint(QPainter& painter, const QString& name, const QRectF& box, const QColor& tint)
{
    const qreal scale = viewkit::deviceScale(painter);
    const QSize pixels(int(std::ceil(box.width() * scale)), int(std::ceil(box.height() * scale)));
    QImage image = tinted(name, pixels, tint);
    if (image.isNull())
        return;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(box.topLeft(), QSizeF(pixels) / scale), image);
    painter.restore();
}

void paintSvgInShape(QPainter& painter, const QString& resource, const QRectF& rect,
                     const QPainterPath& shape)
{
    registerViewResources();
    QSvgRenderer renderer(resource);
    if (!renderer.isValid() || rect.isEmpty())
        return;
    renderer.setAspectRatioMode(Qt::KeepAspectRatio);
    const qreal scale = viewkit::deviceScale(painter);
    const QSize pixels(int(std::ceil(rect.width() * scale)), int(std::ceil(rect.height() * scale)));
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter imagePainter(&image);
        imagePainter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&imagePainter, QRectF(QPointF(0, 0), QSizeF(pixels)));
    }
    // Fill the shape with the picture as a brush: unlike a clip, the edge stays antialiased.
    QTransform toLogical;
    toLogical.translate(rect.x(), rect.y());
    toLogical.scale(1.0 / scale, 1.0 / scale);
    QBrush brush(image);
    brush.setTransform(toLogical);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.fillPath(shape, brush);
    painter.restore();
}

} // namespace glyphs

GlyphView::GlyphView(QString name, QSize frame, QSizeF glyphBox, QColor tint, QWidget* parent)
    : QWidget(parent), m_name(std::move(name)), m_glyphBox(glyphBox), m_tint(tint)
{
    setFixedSize(frame);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void GlyphView::setGlyph(const QString& name)
{
    if (name == m_name)
        return;
    m_name = name;
    update();
}

void GlyphView::setDisc(const QColor& color)
{
    m_disc = color;
    update();
}

void GlyphView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_disc.isValid() && m_disc.alpha() > 0) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_disc);
        painter.drawEllipse(QRectF(rect()));
    }
    const QSizeF box = m_glyphBox.boundedTo(QSizeF(size()));
    const QRectF glyphRect(QPointF((width() - box.width()) / 2.0, (height() - box.height()) / 2.0),
                           box);
    glyphs::paint(painter, m_name, glyphRect, m_tint);
}

} // namespace kmb
