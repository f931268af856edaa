#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <optional>

namespace kmb {

// One screen as the windowing system reports it, in logical pixels.
struct ScreenArea {
    QRect geometry;
    // The work area: the screen less the panels that reserve room on it.
    QRect available;
};

// The desktop as it stands when a popup is about to open.
struct DesktopLayout {
    QList<ScreenArea> screens; // the primary screen first
    bool rightToLeft = false;
    // A native Wayland client cannot place its windows: the compositor does.
    bool clientPlacesWindows = true;
    // Where the pointer is, where the windowing system tells it truthfully (X11). Under
    // XWayland it is the last position over an X11 window: the panel is not one.
    std::optional<QPoint> pointer;
};

// Where the tray icon is, as far as the tray hosts tell, and so where a popup opens: the icon's
// geometry from an XEmbed tray, the point a StatusNotifierItem host passes with a click, and,
// for routes without a click (the tray menu, a second launch, the timed prompt), the last of
// those, else the tray end of the panel. A null rectangle: the compositor places.
class TrayAnchor {
public:
    // A host's point counts only on a panel: outside the work area or this close to an edge.
    static constexpr int panelBandPixels = 64;

    // What an XEmbed tray reports of the icon; nullopt when it reports nothing.
    void setIconGeometry(const std::optional<QRect>& geometry) { m_iconGeometry = geometry; }
    const std::optional<QRect>& iconGeometry() const { return m_iconGeometry; }

    // A point a host passed without asking for a popup (a middle click): remembered only.
    void noteHostPoint(QPoint point, const DesktopLayout& layout);

    // A click on the icon, with the point the host passed (nullopt: it passed none).
    QRect forClick(std::optional<QPoint> hostPoint, const DesktopLayout& layout);

    // A route without a click.
    QRect current(const DesktopLayout& layout) const;

private:
    std::optional<QRect> m_iconGeometry;
    // The last click's anchor in this session.
    std::optional<QRect> m_lastClick;
    // The screen of the last point a host passed, valid or not.
    std::optional<QPoint> m_lastHostPoint;
};

// The icon around a point a host passed, when the point lies on a panel: the panel's band
// across the point (the panel's thickness from the work area, or, where the work area does not
// show the panel, twice the point's distance from the edge: icons sit centred across their
// panel). nullopt for a point on no screen or in the middle of one.
std::optional<QRect> iconBandAround(QPoint point, const QList<ScreenArea>& screens);

// The tray end of the panel of `screen`: its right end (left end right-to-left) on the edge
// where the work area leaves room for a panel, top before bottom; the top edge when none does.
QRect trayEndOfPanel(const ScreenArea& screen, bool rightToLeft);

// The right end (left end right-to-left) of the top of the work area: where a popup opens when
// there is no tray at all.
QRect topEndOfWorkArea(const ScreenArea& screen, bool rightToLeft);

} // namespace kmb
