#pragma once

#include <QPointer>
#include <QWidget>

namespace kmb {

// The visible mark of keyboard focus: a rounded ring just outside a control. It lives in
// the control's window, above everything else there, so that neither the control's own
// edge nor a neighbour cuts it off. It never takes the mouse.
class FocusRing : public QWidget {
    Q_OBJECT

public:
    static constexpr int outset = 3;
    static constexpr qreal lineWidth = 2.0;

    // cornerRadius is the control's own; the ring rounds by that plus the outset.
    explicit FocusRing(QWidget* target, qreal cornerRadius);

    void setCornerRadius(qreal radius);

    // Places the ring around the target in the target's window and shows it.
    void showAroundTarget();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPointer<QWidget> m_target;
    qreal m_cornerRadius;
};

} // namespace kmb
