#pragma once

#include <QAbstractButton>
#include <QBrush>
#include <functional>

namespace kmb {

// A button with no decoration of its own: its label (child widgets or painted text) is the
// whole button. Shows the pointing hand while hovered.
class PlainButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit PlainButton(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
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
