#pragma once

#include "views/PlainButton.h"

class QLabel;

namespace kmb {

// The dashboard's top card: icon, name and hint, the open symbol. The whole card is the button.
class PanelHeaderButton : public PlainButton {
    Q_OBJECT

public:
    explicit PanelHeaderButton(const QString& iconResource, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The footer's cleaned-total line; the whole row is the button.
class CleanedTotalButton : public PlainButton {
    Q_OBJECT

public:
    explicit CleanedTotalButton(QWidget* parent = nullptr);

    void setTotalText(const QString& text);
    QString totalText() const;

private:
    QLabel* m_text = nullptr;
};

} // namespace kmb
