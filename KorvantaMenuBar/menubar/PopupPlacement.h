#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace kmb {

// Where a popup of `size` goes for a tray icon at `anchor` (the icon's rectangle, or a
// 1x1 rectangle at the cursor when the tray gives no geometry) on a screen whose usable
// area is `available`: centred below the anchor, or above it when the anchor sits in
// the lower half (a bottom panel), and always kept inside `available`.
QPoint popupPosition(const QRect& anchor, const QSize& size, const QRect& available);

} // namespace kmb
