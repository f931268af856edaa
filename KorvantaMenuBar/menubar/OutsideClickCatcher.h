#pragma once

#include <QPoint>
#include <QWidget>

namespace kmb {

// A window nobody sees, over the work area beneath a popup, that takes the presses around the
// popup: under XWayland the popup's pointer grab never sees a press on the compositor's own
// surfaces (the desktop, the panel), and some desktops keep the focus where it was after one.
class OutsideClickCatcher : public QWidget {
    Q_OBJECT

public:
    OutsideClickCatcher();

signals:
    void pressed(QPoint globalPosition);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

} // namespace kmb
