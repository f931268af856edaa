#pragma once

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QString>
#include <QWidget>

class QPainter;

namespace kmb {

// Our monochrome symbols live as SVGs under :/glyphs/<name>.svg and are tinted when painted.
namespace glyphs {

// Registers the compiled-in pictures; cheap after the first call.
void registerResources();

QString resourcePath(const QString& name);
bool exists(const QString& name);

// The glyph fitted (aspect kept) into a pixel box, every opaque pixel replaced by the tint.
// Null image when the glyph does not exist or the box is empty.
QImage tinted(const QString& name, const QSize& pixelBox, const QColor& tint);

// Paints the tinted glyph centred in a logical box, rasterised at the painter's scale.
void paint(QPainter& painter, const QString& name, const QRectF& box, const QColor& tint);

// Paints an SVG resource (the application icon) fitted into rect and cut to the shape.
void paintSvgInShape(QPainter& painter, const QString& resource, const QRectF& rect,
                     const QPainterPath& shape);

} // namespace glyphs

// A symbol in a fixed frame; optionally on a round disc that fills the frame.
class GlyphView : public QWidget {
public:
    GlyphView(QString name, QSize frame, QSizeF glyphBox, QColor tint, QWidget* parent = nullptr);

    void setGlyph(const QString& name);
    void setDisc(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_name;
    QSizeF m_glyphBox;
    QColor m_tint;
    QColor m_disc;
};

} // namespace kmb
