#include "views/PlainButton.h"

#include "views/FocusRing.h"
#include "views/ViewKit.h"

#include <QKeyEvent>
#include <QPainter>

namespace kmb {

PlainButton::PlainButton(QWidget* parent) : QAbstractButton(parent)
{
    setCursor(Qt::PointingHandCursor);
    // Keyboard users reach it with Tab; a mouse click must not leave a ring behind.
    setFocusPolicy(Qt::TabFocus);
}

PlainButton::~PlainButton()
{
    // The ring lives in the window, not in the button.
    delete m_focusRing;
}

void PlainButton::setFocusRingRadius(qreal radius)
{
    m_focusRingRadius = radius;
    if (m_focusRing)
        m_focusRing->setCornerRadius(radius);
}

FocusRing* PlainButton::visibleFocusRing() const
{
    return m_focusRing && m_focusRing->isVisible() ? m_focusRing.data() : nullptr;
}

void PlainButton::paintEvent(QPaintEvent*)
{
    // The children draw the label.
}

void PlainButton::keyPressEvent(QKeyEvent* event)
{
    // Space is the toolkit's own; Return and Enter press a focused button too.
    // (The keypad's Enter comes with the keypad modifier.)
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (!event->isAutoRepeat())
            click();
        event->accept();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void PlainButton::focusInEvent(QFocusEvent* event)
{
    QAbstractButton::focusInEvent(event);
    if (!m_focusRing)
        m_focusRing = new FocusRing(this, m_focusRingRadius);
    placeFocusRing();
}

void PlainButton::focusOutEvent(QFocusEvent* event)
{
    QAbstractButton::focusOutEvent(event);
    if (m_focusRing)
        m_focusRing->hide();
}

void PlainButton::moveEvent(QMoveEvent* event)
{
    QAbstractButton::moveEvent(event);
    placeFocusRing();
}

void PlainButton::resizeEvent(QResizeEvent* event)
{
    QAbstractButton::resizeEvent(event);
    placeFocusRing();
}

void PlainButton::hideEvent(QHideEvent* event)
{
    QAbstractButton::hideEvent(event);
    if (m_focusRing)
        m_focusRing->hide();
}

void PlainButton::placeFocusRing()
{
    if (m_focusRing && hasFocus() && isVisible())
        m_focusRing->showAroundTarget();
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
    setFocusRingRadius(cornerRadius);
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
