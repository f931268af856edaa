#pragma once

#include <QLabel>

namespace kmb {

// One line of text from data, such as a volume's name, that may not fit its place: shown
// whole when it fits, ending in "…" where it does not, never cut off mid-letter. Screen
// readers get the whole text.
class ElidingLabel : public QLabel {
public:
    explicit ElidingLabel(QWidget* parent = nullptr);

    void setFullText(const QString& text);
    const QString& fullText() const { return m_fullText; }

    // The whole text's size: the layout gives what room there is, the label elides to it.
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();

    QString m_fullText;
};

} // namespace kmb
