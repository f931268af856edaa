#pragma once

#include "menubar/TrayAnchor.h"

namespace kmb {

// The screens, work areas, layout direction and pointer as Qt reports them now.
DesktopLayout currentDesktopLayout();

} // namespace kmb
