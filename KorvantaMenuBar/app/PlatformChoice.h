#pragma once

namespace kmb {

// Under Wayland a client cannot place a popup next to a tray icon; where XWayland is
// there, run on X11 so the popups open beside the icon. Must run before QApplication.
void preferX11UnderWayland();

} // namespace kmb
