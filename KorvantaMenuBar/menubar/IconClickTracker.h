#pragma once

#include <QPoint>
#include <QRect>
#include <cstdint>
#include <optional>

namespace kmb {

enum class TrayPopup { dashboard, lowDiskPrompt };

// Tells the clicks on the tray icon apart from the presses that close a popup. While a popup
// is open its grab takes every press, one on the tray icon included: the popup closes and the
// icon never sees the click. Some hosts pass the click on afterwards all the same. So a press
// that closed a popup is taken for a click on the icon when it lands on the icon (its geometry
// when the tray reports one, else near where the icon was last clicked), and an activation of
// the icon that follows the same press is not taken for a second click.
class IconClickTracker {
public:
    // How near the icon's last known click a press must land to be on the icon, when the tray
    // reports no geometry; tray icons are 16 to 48 pixels wide.
    static constexpr int nearIconPixels = 16;
    // How long after a press (or its release) its own activation may still arrive.
    static constexpr std::int64_t sameClickMs = 400;

    struct ClosingPress {
        TrayPopup closed;
        std::optional<QPoint> position; // nullopt: a press nobody saw took the focus
        std::int64_t atMs;              // of the press, or of its release once known
        bool onIcon;                    // handled as a click on the icon already
    };

    // A host may pass one click on twice at once (GNOME's indicator host does, for a double
    // click); what comes this soon after an activation is the same click.
    static constexpr std::int64_t repeatedActivationMs = 100;

    // A click on the icon, as the tray reports it. Returns false for a repeat of the last one
    // (see repeatedActivationMs), to be ignored.
    bool noteIconClick(const QPoint& position, std::int64_t nowMs);

    // A press at `position` closed `popup`. Returns whether it was a click on the icon.
    bool notePopupClosedByPress(TrayPopup popup, const QPoint& position,
                                const std::optional<QRect>& iconGeometry, std::int64_t nowMs);

    // `popup` closed as it lost the focus to a press nobody saw, which may have been on the
    // icon: an activation soon after is taken for that press.
    void notePopupClosedByFocusLoss(TrayPopup popup, std::int64_t nowMs);

    // The button of the press that closed a popup went up: its activation, which some hosts
    // send on the release, may come until sameClickMs after this.
    void noteButtonReleased(std::int64_t nowMs);

    // The press that closed a popup, when an activation at `position` is that same click;
    // forgets it, so that one press answers one activation at most.
    std::optional<ClosingPress> takeClosingPress(const QPoint& position, std::int64_t nowMs);

private:
    std::optional<QPoint> m_lastIconClick;
    std::optional<std::int64_t> m_lastIconClickMs;
    std::optional<ClosingPress> m_closingPress;
};

} // namespace kmb
