#pragma once

class QWidget;

namespace kmb {

// Keeps a window that is about to show out of the desktop's taskbar, pager and window
// switcher: a popup is no window to switch to. X11 only (the window manager reads the hints
// as the window maps, and drops them when it unmaps); elsewhere it does nothing.
void keepOutOfTaskbar(QWidget* window);

} // namespace kmb
