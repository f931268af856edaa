#include "menubar/PopupWindow.h"

#include "menubar/PointerGrab.h"
#include "menubar/PopupLogging.h"
#include "menubar/PopupPlacement.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace kmb {

Q_LOGGING_CATEGORY(lcPopup, "korvanta.popup", QtWarningMsg)

namespace {
constexpr int grabRetryMs = 50;
constexpr int maxGrabAttempts = 100; // 5 s: a button held longer is no click
} // namespace

PopupWindow::PopupWindow(const QSize& contentSize, QWidget* parent)
    : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFixedSize(contentSize);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
}

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
    qCDebug(lcPopup) << objectName() << "shown";
    QWidget::showEvent(event);
    // A tray host that activates its icon on the press shows us while its own implicit grab
    // of the pointer lasts: the popup's grab fails then, and a click outside would no longer
    // close it. So the grab is taken again until it holds.
    m_grabAttempts = 0;
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
    // The next opening starts without a focused control (and without its focus ring);
    // Tab reaches the first one.
    if (QWidget* focused = focusWidget())
        focused->clearFocus();
    qCDebug(lcPopup) << objectName() << "hidden" << (m_closingByCommand ? "by command" : "");
    QWidget::hideEvent(event);
    emit closed();
}

void PopupWindow::mousePressEvent(QMouseEvent* event)
{
    qCDebug(lcPopup) << objectName() << event->type() << "at" << event->globalPosition() << "time"
                     << event->timestamp();
    // Qt delivers the press that lands outside a popup to the popup itself, which closes.
    const bool outside = !rect().contains(event->position().toPoint());
    const QPoint globalPosition = event->globalPosition().toPoint();
    QWidget::mousePressEvent(event);
    if (outside && !isVisible())
        emit closedByOutsidePress(globalPosition);
}

} // namespace kmb
