#include "views/PlainButton.h"

#include "views/ViewKit.h"

#include <QPainter>

namespace kmb {

PlainButton::PlainButton(QWidget* parent) : QAbstractButton(parent)
{
    setCursor(Qt::PointingHandCursor);
}

void PlainButton::paintEvent(QPaintEvent*)
{
    // The children draw the label.
}

PlainTextButton::PlainTextButton(const QString& text, QWidget* parent) : PlainButton(parent)
{
    setText(text);
    setAccessibleName(text);
}

void PlainTextButton::setTopPadding(int pixels)
{
    m_topPadding = pixels;
    updateGeometry();
}

void PlainTextButton::setBackground(BackgroundBrush brush, qreal cornerRadius)
{
    m_background = std::move(brush);
    m_cornerRadius = cornerRadius;
    update();
}

QSize PlainTextButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()), metrics.height() + m_topPadding};
}

QSize PlainTextButton::minimumSizeHint() const
{
    return sizeHint();
}

void PlainTextButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    if (m_background) {
        const QRectF area(rect());
        painter.fillPath(viewkit::continuousRoundedRect(area, m_cornerRadius), m_background(area));
    }
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.drawText(rect().adjusted(0, m_topPadding, 0, 0), Qt::AlignCenter, text());
}

} // namespace kmb
