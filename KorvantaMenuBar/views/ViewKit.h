#pragma once

#include <QColor>
#include <QFont>
#include <QPainterPath>
#include <QString>

class QLabel;
class QPainter;
class QWidget;

// Small shared pieces of the painted views: fonts, text labels and shapes.
namespace kmb::viewkit {

// The program's own Chinese texts: Noto Sans CJK SC cut down to their characters at build
// time (Resources/fonts), embedded, registered on the first uiFont().
inline constexpr char textsCjkFamily[] = "Korvanta Texts CJK";
// Everything else CJK (texts from data, such as a volume's name): Debian's fonts-noto-cjk,
// which the package recommends.
inline constexpr char cjkFamily[] = "Noto Sans CJK SC";

// The desktop's UI font at a pixel size and weight (design points are logical pixels), with
// textsCjkFamily, then cjkFamily, for what the desktop's family has no glyphs for.
QFont uiFont(int pixelSize, QFont::Weight weight);

void setTextColor(QWidget* widget, const QColor& color);

// A text element. It lets mouse events through so that a label inside a button does not
// swallow the click.
QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color,
                  QWidget* parent = nullptr);
// The same settings for a label made elsewhere; returns it.
QLabel* styleLabel(QLabel* label, const QFont& font, const QColor& color);

// Rounded rectangle with continuous corners: the curvature eases in over about 1.5 radii
// instead of switching abruptly from a straight edge to a circular arc.
QPainterPath continuousRoundedRect(const QRectF& rect, qreal radius);

// Fully rounded ends (radius = half the shorter side).
QPainterPath capsule(const QRectF& rect);

// Physical pixels per logical pixel of whatever the painter draws on; lets raster glyphs
// stay sharp when a view is rendered at 2x.
qreal deviceScale(const QPainter& painter);

} // namespace kmb::viewkit
