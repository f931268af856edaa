#include "views/SettingsMenuButton.h"

#include "views/Glyphs.h"
#include "views/Palette.h"

#include <QMenu>
#include <QPainter>
#include <cmath>

namespace kmb {

QPointF settingsMenuAnchor(qreal buttonWidth)
{
    const qreal x = buttonWidth - 6;
    return {std::isnan(x) || x < 0 ? 0.0 : x, -6.0};
}

SettingsMenuButton::SettingsMenuButton(std::function<QMenu*()> settingsMenu, QWidget* parent)
    : PlainButton(parent), m_settingsMenu(std::move(settingsMenu))
{
    setAccessibleName(tr("设置"));
    setFocusRingRadius(slotSize / 2.0);
    connect(this, &QAbstractButton::clicked, this, &SettingsMenuButton::showMenu);
}

QSize SettingsMenuButton::sizeHint() const
{
    return {slotSize, slotSize};
}

void SettingsMenuButton::showMenu()
{
    QMenu* menu = m_settingsMenu ? m_settingsMenu() : nullptr;
    if (!menu)
        return;
    menu->popup(mapToGlobal(settingsMenuAnchor(width())).toPoint());
}

void SettingsMenuButton::paintEvent(QPaintEvent*)
{
    // The symbol at its natural size, centred; no bezel.
    constexpr qreal glyphSide = 16;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box((width() - glyphSide) / 2.0, (height() - glyphSide) / 2.0, glyphSide,
                     glyphSide);
    glyphs::paint(painter, QStringLiteral("gearshape.fill"), box, palette::label());
}

} // namespace kmb
