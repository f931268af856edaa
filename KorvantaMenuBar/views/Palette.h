#pragma once

#include <QColor>
#include <QPalette>

// Every colour the views paint, by role. sRGB components as fractions so they read like the
// design values they come from.
namespace kmb::palette {

inline QColor rgb(qreal red, qreal green, qreal blue, qreal alpha = 1.0)
{
    return QColor::fromRgbF(float(red), float(green), float(blue), float(alpha));
}
inline QColor white(qreal alpha = 1.0)
{
    return rgb(1, 1, 1, alpha);
}
inline QColor black(qreal alpha = 1.0)
{
    return rgb(0, 0, 0, alpha);
}

// Standard accents of the desktop we imitate.
inline QColor systemYellow()
{
    return QColor(0xFF, 0xCC, 0x00);
}
inline QColor systemPink()
{
    return QColor(0xFF, 0x2D, 0x55);
}
// Text and symbols drawn on dark surfaces (the gear button).
inline QColor label()
{
    return white(0.85);
}

// The ring around the control that has keyboard focus, on the dark surfaces of both popups.
inline QColor focusRing()
{
    return white(0.9);
}

// Dashboard.
inline QColor panelGradientStart()
{
    return rgb(0.20, 0.09, 0.30);
}
inline QColor panelGradientEnd()
{
    return rgb(0.17, 0.10, 0.26);
}
inline QColor cardFill()
{
    return white(0.08);
}
inline QColor cardStroke()
{
    return white(0.05);
}
inline QColor cardSymbol()
{
    return white(0.9);
}
inline QColor dimmedText()
{
    return white(0.7);
}
inline QColor footerHairline()
{
    return white(0.14);
}
inline QColor cleanedSymbol()
{
    QColor pink = systemPink();
    pink.setAlphaF(0.95f);
    return pink;
}
inline QColor symbolDisc()
{
    return white(0.08);
}

// Low-disk prompt.
inline QColor promptGradientStart()
{
    return rgb(0.08, 0.34, 0.48);
}
inline QColor promptGradientMiddle()
{
    return rgb(0.06, 0.31, 0.45);
}
inline QColor promptGradientEnd()
{
    return rgb(0.08, 0.40, 0.55);
}
inline QColor promptHint()
{
    return rgb(0.65, 0.80, 0.96);
}
inline QColor driveTop()
{
    return rgb(0.82, 0.82, 0.82);
}
inline QColor driveBottom()
{
    return rgb(0.48, 0.48, 0.48);
}
inline QColor driveShadow()
{
    return black(0.22);
}
inline QColor driveMark()
{
    return black(0.24);
}
inline QColor driveSlot()
{
    return black(0.28);
}
inline QColor usageTrack()
{
    return white(0.23);
}
inline QColor usageFillStart()
{
    return rgb(1.00, 0.35, 0.25);
}
inline QColor usageFillEnd()
{
    return rgb(1.00, 0.48, 0.32);
}
// A divider line, with the white veil that is laid over it.
inline QColor dividerLine()
{
    return black(0.10);
}
inline QColor dividerVeil()
{
    return white(0.38);
}
inline QColor promptButtonBar()
{
    return rgb(0.07, 0.34, 0.48, 0.72);
}
inline QColor ignoreButtonFill()
{
    return rgb(0.37, 0.63, 0.82, 0.9);
}
inline QColor ignoreButtonText()
{
    return white(0.95);
}
inline QColor openButtonStart()
{
    return rgb(0.10, 0.55, 0.96);
}
inline QColor openButtonEnd()
{
    return rgb(0.08, 0.43, 0.88);
}

// About window: follows the desktop's own light or dark colours.
inline QColor windowBackground(const QPalette& system)
{
    return system.color(QPalette::Window);
}
inline QColor primaryLabel(const QPalette& system)
{
    return system.color(QPalette::WindowText);
}
inline QColor secondaryLabel(const QPalette& system)
{
    QColor text = system.color(QPalette::WindowText);
    text.setAlphaF(0.55f);
    return text;
}

} // namespace kmb::palette
