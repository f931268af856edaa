#pragma once

#include <QPoint>
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

    // Shows the popup next to `anchor` (global coordinates), raises and activates it. A null
    // anchor (nowhere known) centres it on the primary screen.
    void showRelativeTo(const QRect& anchor);
    bool isShown() const { return isVisible(); }
    void performClose();

signals:
    void shown();
    void closed();
    // A press outside the popup closed it (the popup's grab takes every press, also one on
    // the tray icon, which then never sees it). Emitted after the popup is hidden.
    void closedByOutsidePress(QPoint globalPosition);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    // Takes the pointer grab once the button that opened the popup is up; see showEvent.
    void ensurePointerGrab();
    void releaseBackingStore();

    QWidget* m_content = nullptr;
    bool m_closingByCommand = false;
    bool m_closingByInput = false;
    bool m_focusedSinceShown = false;
    int m_grabAttempts = 0;
};

} // namespace kmb
