#pragma once

#include "views/PlainButton.h"

#include <QPointF>
#include <functional>

class QMenu;

namespace kmb {

// Where the settings menu opens, in the gear button's own coordinates: near its top-right
// corner, slightly above it, never left of the button.
QPointF settingsMenuAnchor(qreal buttonWidth);

// The dashboard's gear: a borderless symbol button that pops up the settings menu.
class SettingsMenuButton : public PlainButton {
    Q_OBJECT

public:
    static constexpr int slotSize = 28;

    // settingsMenu is asked on every click; nullptr means there is no menu yet.
    explicit SettingsMenuButton(std::function<QMenu*()> settingsMenu, QWidget* parent = nullptr);

    QSize sizeHint() const override;

    void showMenu();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::function<QMenu*()> m_settingsMenu;
};

} // namespace kmb
