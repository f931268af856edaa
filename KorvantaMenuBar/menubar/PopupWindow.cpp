#include "menubar/PopupWindow.h"

#include "menubar/OutsideClickCatcher.h"
#include "menubar/PointerGrab.h"
#include "menubar/PopupLogging.h"
#include "menubar/PopupPlacement.h"
#include "menubar/X11WindowHints.h"

#include <QBackingStore>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScopedValueRollback>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

namespace kmb {

Q_LOGGING_CATEGORY(lcPopup, "korvanta.popup", QtWarningMsg)

namespace {
constexpr int grabRetryMs = 50;      // mutate: ignore (a retry's pace, seen by nobody)
constexpr int maxGrabAttempts = 100; // 5 s: a button held longer is no click
} // namespace

PopupStyle popupStyleForThisSession()
{
    const bool xwayland = QGuiApplication::platformName() == QLatin1String("xcb") &&
                          !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    return xwayland ? PopupStyle::focusAndCatcher : PopupStyle::pointerGrab;
}

PopupWindow::PopupWindow(const QSize& contentSize, PopupStyle style)
    : QWidget(nullptr,
              (style == PopupStyle::pointerGrab ? Qt::Popup : Qt::Tool | Qt::WindowStaysOnTopHint) |
                  Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint)
{
    if (style == PopupStyle::focusAndCatcher) {
        m_catcher = std::make_unique<OutsideClickCatcher>();
        connect(m_catcher.get(), &OutsideClickCatcher::pressed, this, [this](QPoint position) {
            closeByInput();
            emit closedByOutsidePress(position);
        });
    }
    setAttribute(Qt::WA_DeleteOnClose, false); // mutate: ignore (the default, said for the reader)
    setFixedSize(contentSize);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0); // mutate: ignore (one child: no spacing is ever laid out)
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* focused) {
        if (focused && focused == windowHandle())
            m_focusedSinceShown = true;
    });
}

PopupWindow::~PopupWindow() = default;

void PopupWindow::setContent(QWidget* content)
{
    if (m_content == content)
        return;
    if (m_content)
        m_content->deleteLater();
    m_content = content;
    if (m_content) {
        m_content->setParent(this);
        layout()->addWidget(m_content);
    }
}

void PopupWindow::showRelativeTo(const QRect& anchor)
{
    QScreen* screen = anchor.isNull() ? nullptr : QGuiApplication::screenAt(anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), size());
    if (anchor.isNull())
        move(available.center() - QPoint(width() / 2, height() / 2));
    else
        move(popupPosition(anchor, size(), available));
    if (m_catcher) {
        m_catcher->setGeometry(available);
        keepOutOfTaskbar(m_catcher.get());
        m_catcher->show();
        keepOutOfTaskbar(this);
    }
    show();
    raise();
    activateWindow();
}

void PopupWindow::performClose()
{
    if (!isVisible())
        return;
    m_closingByCommand = true;
    hide();
    m_closingByCommand = false;
}

void PopupWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // A window manager may unmap and map a window as it takes it in: not our opening.
    if (event->spontaneous())
        return;
    qCDebug(lcPopup) << objectName() << "shown";
    // A tray host that activates its icon on the press shows us while its own implicit grab
    // of the pointer lasts: the popup's grab fails then, and a click outside would no longer
    // close it. So the grab is taken again until it holds.
    m_grabAttempts = 0;
    m_focusedSinceShown = false;
    if (!m_catcher)
        QTimer::singleShot(0, this, &PopupWindow::ensurePointerGrab);
    emit shown();
}

void PopupWindow::ensurePointerGrab()
{
    if (!isVisible() || grabPointer(windowHandle()))
        return;
    qCDebug(lcPopup) << objectName() << "pointer grab refused; trying again";
    if (++m_grabAttempts < maxGrabAttempts)
        QTimer::singleShot(grabRetryMs, this, &PopupWindow::ensurePointerGrab);
}

void PopupWindow::hideEvent(QHideEvent* event)
{
    if (event->spontaneous()) {
        QWidget::hideEvent(event);
        return;
    }
    // The next opening starts without a focused control (and without its focus ring);
    // Tab reaches the first one.
    if (QWidget* focused = focusWidget())
        focused->clearFocus();
    qCDebug(lcPopup) << objectName() << "hidden" << (m_closingByCommand ? "by command" : "");
    if (m_catcher)
        m_catcher->hide();
    QWidget::hideEvent(event); // mutate: ignore (the base does nothing; said for the reader)
    emit closed();
    QTimer::singleShot(0, this, &PopupWindow::releaseBackingStore);
}

void PopupWindow::closeEvent(QCloseEvent* event)
{
    // Qt closes popups when the application loses the focus. The window that had it (this
    // popup or another, closed a moment ago) loses it only after a delay, which can end after
    // this popup is shown and before the focus reaches it: that is not the user going
    // elsewhere, and it would close the popup as soon as it opened. Esc and a press outside
    // always close it.
    if (!m_closingByInput && !m_focusedSinceShown) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

bool PopupWindow::event(QEvent* event)
{
    if (event->type() == QEvent::WindowDeactivate && m_catcher && m_focusedSinceShown &&
        isVisible()) {
        qCDebug(lcPopup) << objectName() << "lost the focus";
        closeByInput();
        emit closedByFocusLoss();
    }
    return QWidget::event(event);
}

void PopupWindow::closeByInput()
{
    const QScopedValueRollback byInput(m_closingByInput, true);
    close();
}

void PopupWindow::keyPressEvent(QKeyEvent* event)
{
    // Qt closes only its own popups on Esc; the focused style's window too.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        closeByInput();
        return;
    }
    const QScopedValueRollback byInput(m_closingByInput, true);
    QWidget::keyPressEvent(event);
}

void PopupWindow::releaseBackingStore()
{
    // Closed, the popup may wait for hours: its backing store (an image the size of the popup,
    // in memory shared with the X server) shrinks to a pixel, and the next paint sizes it to
    // the window again.
    if (QBackingStore* store = backingStore(); store && !isVisible())
        store->resize(QSize(1, 1));
}

void PopupWindow::mousePressEvent(QMouseEvent* event)
{
    qCDebug(lcPopup) << objectName() << event->type() << "at" << event->globalPosition() << "time"
                     << event->timestamp();
    // Qt delivers the press that lands outside a popup to the popup itself, which closes.
    const bool outside = !rect().contains(event->position().toPoint());
    const QPoint globalPosition = event->globalPosition().toPoint();
    {
        const QScopedValueRollback byInput(m_closingByInput, true);
        QWidget::mousePressEvent(event);
    }
    if (outside && !isVisible())
        emit closedByOutsidePress(globalPosition);
}

} // namespace kmb
