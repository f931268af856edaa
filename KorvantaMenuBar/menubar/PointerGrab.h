#pragma once

#include <optional>

class QWindow;

namespace kmb {

// Takes the pointer for a popup and tells whether that worked. Qt's own grab does not read the
// X server's answer: while another client holds the pointer (a tray host that opened us on a
// press whose button is still down), its grab fails and it reports success all the same. Under
// X11 the grab is made again here and the answer read; elsewhere Qt's answer stands.
bool grabPointer(QWindow* window);

// Whether a pointer button is held down, as the X server tells; nullopt elsewhere.
std::optional<bool> pointerButtonDown();

} // namespace kmb
