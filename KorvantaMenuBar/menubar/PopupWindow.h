#pragma once

#include <QElapsedTimer>
#include <QRect>
#include <QWidget>

namespace kmb {

// A frameless, transient popup that hangs off the tray icon: a click outside closes it.
// It owns one content widget at a time.
class PopupWindow : public QWidget {
    Q_OBJECT

public:
    explicit PopupWindow(const QSize& contentSize, QWidget* parent = nullptr);

    void setContent(QWidget* content);
    QWidget* content() const { return m_content; }

    // Shows the popup next to `anchor` (global coordinates), raises and activates it. A null
    // anchor (nowhere known) centres it on the primary screen.
    void showRelativeTo(const QRect& anchor);
    bool isShown() const { return isVisible(); }
    void performClose();

    // True just after the popup closed because of a click outside it. The same click
    // may then reach the tray icon; it must only close, not reopen.
    bool closedByRecentOutsideClick() const;

signals:
    void shown();
    void closed();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QWidget* m_content = nullptr;
    QElapsedTimer m_sinceOutsideClose;
    bool m_closingByCommand = false;
};

} // namespace kmb
