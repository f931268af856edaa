#include "views/ElidingLabel.h"

#include <QFontMetricsF>
#include <QtMath>

namespace kmb {

ElidingLabel::ElidingLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
}

void ElidingLabel::setFullText(const QString& text)
{
    if (text == m_fullText)
        return;
    m_fullText = text;
    setAccessibleName(text);
    elide();
    updateGeometry();
}

QSize ElidingLabel::sizeHint() const
{
    const QMargins margins = contentsMargins();
    // Rounded up: elidedText keeps the whole text only where its exact width fits.
    const int textWidth = qCeil(QFontMetricsF(font()).horizontalAdvance(m_fullText));
    return {textWidth + margins.left() + margins.right(), QLabel::sizeHint().height()};
}

void ElidingLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    elide();
}

void ElidingLabel::elide()
{
    setText(fontMetrics().elidedText(m_fullText, Qt::ElideRight, contentsRect().width()));
}

} // namespace kmb
