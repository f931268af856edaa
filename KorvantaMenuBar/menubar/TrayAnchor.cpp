#include "menubar/TrayAnchor.h"

#include <algorithm>

namespace kmb {

namespace {

const ScreenArea* screenAt(QPoint point, const QList<ScreenArea>& screens)
{
    const auto found = std::find_if(screens.begin(), screens.end(), [point](const ScreenArea& s) {
        return s.geometry.contains(point);
    });
    return found == screens.end() ? nullptr : &*found;
}

QRect workArea(const ScreenArea& screen)
{
    const QRect available = screen.available & screen.geometry;
    return available.isEmpty() ? screen.geometry : available;
}

} // namespace

std::optional<QRect> iconBandAround(QPoint point, const QList<ScreenArea>& screens)
{
    const ScreenArea* screen = screenAt(point, screens);
    if (!screen)
        return std::nullopt;
    const QRect g = screen->geometry;
    const QRect a = workArea(*screen);
    // On a panel that reserves room: the panel's whole thickness.
    if (point.y() < a.top())
        return QRect(point.x(), g.top(), 1, a.top() - g.top());
    if (point.y() > a.bottom())
        return QRect(point.x(), a.bottom() + 1, 1, g.bottom() - a.bottom());
    if (point.x() < a.left())
        return QRect(g.left(), point.y(), a.left() - g.left(), 1);
    if (point.x() > a.right())
        return QRect(a.right() + 1, point.y(), g.right() - a.right(), 1);
    // Near an edge, on a panel the work area does not show: mirrored about the point.
    const int top = point.y() - g.top();
    const int bottom = g.bottom() - point.y();
    const int left = point.x() - g.left();
    const int right = g.right() - point.x();
    const int nearest = std::min({top, bottom, left, right});
    if (nearest > TrayAnchor::panelBandPixels)
        return std::nullopt;
    if (nearest == top)
        return QRect(point.x(), g.top(), 1, 2 * top + 1);
    if (nearest == bottom)
        return QRect(point.x(), g.bottom() - 2 * bottom, 1, 2 * bottom + 1);
    if (nearest == left)
        return QRect(g.left(), point.y(), 2 * left + 1, 1);
    return QRect(g.right() - 2 * right, point.y(), 2 * right + 1, 1);
}

QRect trayEndOfPanel(const ScreenArea& screen, bool rightToLeft)
{
    const QRect g = screen.geometry;
    const QRect a = workArea(screen);
    const int x = rightToLeft ? a.left() : a.right();
    if (a.top() > g.top())
        return QRect(x, g.top(), 1, a.top() - g.top());
    if (a.bottom() < g.bottom())
        return QRect(x, a.bottom() + 1, 1, g.bottom() - a.bottom());
    // A panel along a side: its lower end.
    if (a.right() < g.right())
        return QRect(a.right() + 1, a.bottom(), g.right() - a.right(), 1);
    if (a.left() > g.left())
        return QRect(g.left(), a.bottom(), a.left() - g.left(), 1);
    return topEndOfWorkArea(screen, rightToLeft);
}

QRect topEndOfWorkArea(const ScreenArea& screen, bool rightToLeft)
{
    const QRect a = workArea(screen);
    return QRect(rightToLeft ? a.left() : a.right(), a.top() - 1, 1, 1);
}

void TrayAnchor::noteHostPoint(QPoint point, const DesktopLayout& layout)
{
    m_lastHostPoint = point;
    if (const std::optional<QRect> band = iconBandAround(point, layout.screens))
        m_lastClick = band;
}

QRect TrayAnchor::forClick(std::optional<QPoint> hostPoint, const DesktopLayout& layout)
{
    if (!layout.clientPlacesWindows)
        return {};
    std::optional<QRect> anchor = m_iconGeometry;
    if (hostPoint) {
        m_lastHostPoint = *hostPoint;
        if (!anchor)
            anchor = iconBandAround(*hostPoint, layout.screens);
    }
    if (!anchor && layout.pointer)
        anchor = QRect(*layout.pointer, QSize(1, 1));
    if (!anchor)
        return current(layout);
    m_lastClick = anchor;
    return *anchor;
}

QRect TrayAnchor::current(const DesktopLayout& layout) const
{
    if (!layout.clientPlacesWindows || layout.screens.isEmpty())
        return {};
    if (m_iconGeometry)
        return *m_iconGeometry;
    if (m_lastClick)
        return *m_lastClick;
    const ScreenArea* screen =
        m_lastHostPoint ? screenAt(*m_lastHostPoint, layout.screens) : nullptr;
    return trayEndOfPanel(screen ? *screen : layout.screens.first(), layout.rightToLeft);
}

} // namespace kmb
