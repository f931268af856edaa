#include "menubar/PopupPlacement.h"

#include <algorithm>

namespace kmb {

QPoint popupPosition(const QRect& anchor, const QSize& size, const QRect& available)
{
    const bool trayAtBottom = anchor.center().y() > available.center().y();
    int x = anchor.center().x() - size.width() / 2;
    int y = trayAtBottom ? anchor.top() - size.height() : anchor.bottom() + 1;

    // Keep the whole popup on screen; when it is larger than the screen, pin its top-left.
    x = std::max(available.left(), std::min(x, available.right() + 1 - size.width()));
    y = std::max(available.top(), std::min(y, available.bottom() + 1 - size.height()));
    return {x, y};
}

} // namespace kmb
