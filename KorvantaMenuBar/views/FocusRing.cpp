#include "views/FocusRing.h"

#include "views/Palette.h"
#include "views/ViewKit.h"

#include <QPainter>

namespace kmb {

FocusRing::FocusRing(QWidget* target, qreal cornerRadius)
    : QWidget(target ? target->window() : nullptr), m_target(target), m_cornerRadius(cornerRadius)
{
    setObjectName(QStringLiteral("focusRing"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    hide();
}

void FocusRing::setCornerRadius(qreal radius)
{
    m_cornerRadius = radius;
    update();
}

void FocusRing::showAroundTarget()
{
    if (!m_target)
        return;
    QWidget* window = m_target->window();
    if (parentWidget() != window)
        setParent(window); // the control moved into another window (a popup) since
    const QRect around(m_target->mapTo(window, QPoint(0, 0)), m_target->size());
    setGeometry(around.adjusted(-outset, -outset, outset, outset));
    raise();
    show();
}

void FocusRing::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal inset = lineWidth / 2;
    const QRectF ring = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
    painter.setPen(QPen(palette::focusRing(), lineWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(
        viewkit::continuousRoundedRect(ring, m_cornerRadius + FocusRing::outset - inset));
}

} // namespace kmb
