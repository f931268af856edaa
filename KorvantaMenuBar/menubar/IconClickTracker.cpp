#include "menubar/IconClickTracker.h"

#include <cstdlib>
#include <utility>

namespace kmb {

namespace {

bool near(const QPoint& a, const QPoint& b)
{
    const QPoint d = a - b;
    return std::abs(d.x()) <= IconClickTracker::nearIconPixels &&
           std::abs(d.y()) <= IconClickTracker::nearIconPixels;
}

} // namespace

bool IconClickTracker::notePopupClosedByPress(TrayPopup popup, const QPoint& position,
                                              const std::optional<QRect>& iconGeometry,
                                              std::int64_t nowMs)
{
    const bool onIcon = iconGeometry ? iconGeometry->contains(position)
                                     : m_lastIconClick && near(*m_lastIconClick, position);
    m_closingPress = ClosingPress{popup, position, nowMs, onIcon};
    return onIcon;
}

void IconClickTracker::noteButtonReleased(std::int64_t nowMs)
{
    if (m_closingPress)
        m_closingPress->atMs = nowMs;
}

std::optional<IconClickTracker::ClosingPress>
IconClickTracker::takeClosingPress(const QPoint& position, std::int64_t nowMs)
{
    if (!m_closingPress || nowMs - m_closingPress->atMs > sameClickMs ||
        !near(m_closingPress->position, position))
        return std::nullopt;
    return std::exchange(m_closingPress, std::nullopt);
}

} // namespace kmb
