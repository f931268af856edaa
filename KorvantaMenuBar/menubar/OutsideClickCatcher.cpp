#include "menubar/OutsideClickCatcher.h"

#include <QMouseEvent>

namespace kmb {

OutsideClickCatcher::OutsideClickCatcher()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint)
{
    setObjectName(QStringLiteral("outsideClickCatcher"));
    // Fully transparent: the compositor draws what lies beneath, the presses come here.
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
}

void OutsideClickCatcher::mousePressEvent(QMouseEvent* event)
{
    hide();
    emit pressed(event->globalPosition().toPoint());
}

} // namespace kmb
