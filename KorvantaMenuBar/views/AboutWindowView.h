#pragma once

#include <QLabel>
#include <QPoint>
#include <QWidget>

namespace kmb {

// "版本 1.2.0 (37)". An empty short version reads 1.0.0; without a build number the
// parentheses say "dev".
QString aboutVersionText(const QString& shortVersion, const QString& buildNumber);

// A multi-line centred text with extra space between its lines.
class LineSpacedLabel : public QLabel {
public:
    LineSpacedLabel(const QString& text, qreal extraLineSpacing, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal m_extra;
};

// The About window's content: icon, name, version line and notice on the window colour.
// Dragging it moves the window.
class AboutWindowView : public QWidget {
    Q_OBJECT

public:
    static constexpr int viewWidth = 340;
    static constexpr int viewHeight = 250;

    AboutWindowView(const QString& versionText, const QString& iconResource,
                    QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_dragging = false;
    QPoint m_grabOffset;
};

} // namespace kmb
