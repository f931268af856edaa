#pragma once

class QWidget;

namespace kmb {

// Hints for the window manager that Qt has no call for. X11 only; elsewhere they do nothing.

// Keeps a window that is about to show out of the desktop's taskbar, pager and window
// switcher: a popup is no window to switch to. The window manager reads the hints as the
// window maps and drops them when it unmaps.
void keepOutOfTaskbar(QWidget* window);

// Tells the window manager that a shown window has no title: Qt's X11 backend writes the
// application's name as the title of a window whose own title is empty.
void clearWindowTitle(QWidget* window);

} // namespace kmb
