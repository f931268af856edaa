#pragma once

#include <QIcon>

namespace kmb {

// The "AppIcon" image, rendered from its SVG at every size a tray or window may ask for
// (16-64 px, at 1x and 2x). Null when the resource is missing.
QIcon appIcon();

} // namespace kmb
