#pragma once

#include "views/MetricCardContent.h"

#include <QWidget>

class QLabel;

namespace kmb {

class ElidingLabel;
class GlyphView;
class PlainTextButton;

// One dashboard tile: symbol, title and value at the top left, an optional detail at the top
// right and an optional small text button at the bottom right.
class MetricCard : public QWidget {
    Q_OBJECT

public:
    static constexpr int cardWidth = 190;
    static constexpr int cardHeight = 92;

    explicit MetricCard(MetricCardContent content, QWidget* parent = nullptr);

    // The dashboard feeds each pass's figures into the same tile.
    void setContent(MetricCardContent content);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    MetricCardContent m_content;
    GlyphView* m_icon = nullptr;
    ElidingLabel* m_title = nullptr; // a volume's name may be long
    QLabel* m_value = nullptr;
    QLabel* m_detail = nullptr;
    PlainTextButton* m_button = nullptr;
};

} // namespace kmb
