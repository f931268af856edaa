#pragma once

#include <QAbstractButton>
#include <QBrush>
#include <QPointer>
#include <functional>

namespace kmb {

class FocusRing;

// A button with no decoration of its own: its label (child widgets or painted text) is the
// whole button. Shows the pointing hand while hovered. Reached with Tab (a click does not
// take focus), pressed with Space, Return or Enter; while it has focus a ring surrounds it.
class PlainButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit PlainButton(QWidget* parent = nullptr);
    ~PlainButton() override;

    // Corner radius of the button's shape, which the focus ring follows.
    void setFocusRingRadius(qreal radius);
    // The ring, while the button has focus; nullptr otherwise.
    FocusRing* visibleFocusRing() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void placeFocusRing();

    QPointer<FocusRing> m_focusRing;
    qreal m_focusRingRadius = 5;
};

// A plain button whose label is its text, optionally on a rounded background.
class PlainTextButton : public PlainButton {
    Q_OBJECT

public:
    using BackgroundBrush = std::function<QBrush(const QRectF& rect)>;

    explicit PlainTextButton(const QString& text, QWidget* parent = nullptr);

    // Extra space above the text, inside the button.
    void setTopPadding(int pixels);
    void setBackground(BackgroundBrush brush, qreal cornerRadius);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_topPadding = 0;
    BackgroundBrush m_background;
    qreal m_cornerRadius = 0;
};

} // namespace kmb
