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

bool IconClickTracker::noteIconClick(const QPoint& position, std::int64_t nowMs)
{
    const bool repeated = m_lastIconClick && near(*m_lastIconClick, position) &&
                          m_lastIconClickMs && nowMs - *m_lastIconClickMs < repeatedActivationMs;
    m_lastIconClick = position;
    m_lastIconClickMs = nowMs;
    return !repeated;
}

bool IconClickTracker::notePopupClosedByPress(TrayPopup popup, const QPoint& position,
                                              const std::optional<QRect>& iconGeometry,
                                              std::int64_t nowMs)
{
    const bool onIcon = iconGeometry ? iconGeometry->contains(position)
                                     : m_lastIconClick && near(*m_lastIconClick, position);
    m_closingPress = ClosingPress{popup, position, nowMs, onIcon};
    return onIcon;
}

void IconClickTracker::notePopupClosedByFocusLoss(TrayPopup popup, std::int64_t nowMs)
{
    m_closingPress = ClosingPress{popup, std::nullopt, nowMs, false};
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
        (m_closingPress->position && !near(*m_closingPress->position, position)))
        return std::nullopt;
    return std::exchange(m_closingPress, std::nullopt);
}

} // namespace kmb
