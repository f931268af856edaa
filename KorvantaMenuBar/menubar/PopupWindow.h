#pragma once

#include <QPoint>
#include <QRect>
#include <QWidget>
#include <memory>

namespace kmb {

class OutsideClickCatcher;

// How a popup learns of a click elsewhere.
enum class PopupStyle {
    // X11: a Qt popup holding the pointer grab is given every press.
    pointerGrab,
    // XWayland: a grab sees no press on the compositor's own surfaces, so the popup is a
    // window that takes the focus and closes when it loses it, over a transparent window that
    // takes the presses around it.
    focusAndCatcher,
};

// The style that works where this process runs.
PopupStyle popupStyleForThisSession();

// A frameless, transient popup that hangs off the tray icon: a click outside closes it.
// It owns one content widget at a time.
class PopupWindow : public QWidget {
    Q_OBJECT

public:
    explicit PopupWindow(const QSize& contentSize, PopupStyle style = popupStyleForThisSession());
    ~PopupWindow() override;

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
    // The popup closed as it lost the focus it had (focusAndCatcher): the press that took the
    // focus may have been on the tray icon.
    void closedByFocusLoss();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    // Takes the pointer grab once the button that opened the popup is up; see showEvent.
    void ensurePointerGrab();
    void releaseBackingStore();

    void closeByInput();

    QWidget* m_content = nullptr;
    std::unique_ptr<OutsideClickCatcher> m_catcher;
    bool m_closingByCommand = false;
    bool m_closingByInput = false;
    bool m_focusedSinceShown = false;
    int m_grabAttempts = 0;
};

} // namespace kmb
