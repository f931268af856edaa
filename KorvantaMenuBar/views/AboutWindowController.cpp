#include "views/AboutWindowController.h"

#include "BuildInfo.h"
#include "views/AboutWindowView.h"
#include "views/AppIconView.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstring>
#include <memory>

namespace kmb {

namespace {

// The window shows no title. Qt's X11 backend writes the application's name as the title of
// a window whose own title is empty, so the window manager is told an empty one afterwards.
void clearWindowManagerTitle(QWidget* window)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return;
    xcb_connection_t* connection = x11->connection();
    const auto id = static_cast<xcb_window_t>(window->winId());
    auto atom = [connection](const char* name) -> xcb_atom_t {
        const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&free)> reply(
            xcb_intern_atom_reply(connection,
                                  xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr),
            &free);
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    };
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        0, nullptr);
    const xcb_atom_t netWmName = atom("_NET_WM_NAME");
    const xcb_atom_t utf8 = atom("UTF8_STRING");
    if (netWmName != XCB_ATOM_NONE && utf8 != XCB_ATOM_NONE)
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, netWmName, utf8, 8, 0, nullptr);
    xcb_flush(connection);
}

} // namespace

AboutWindowController& AboutWindowController::shared()
{
    // Kept for the life of the process and never destroyed: a top-level widget must not
    // outlive the application object, which static destruction would make it do.
    static AboutWindowController* const instance = new AboutWindowController;
    return *instance;
}

AboutWindowController::AboutWindowController()
{
    m_window = new QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                                        Qt::CustomizeWindowHint);
    m_window->setObjectName(QStringLiteral("aboutWindow"));
    m_window->setAttribute(Qt::WA_DeleteOnClose, false);
    m_window->setWindowTitle(QString());
    m_window->setFixedSize(AboutWindowView::viewWidth, AboutWindowView::viewHeight);
    auto* layout = new QVBoxLayout(m_window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new AboutWindowView(versionText(), appIconResource(), m_window));
}

void AboutWindowController::show()
{
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        m_window->move(area.center() - QPoint(m_window->width() / 2, m_window->height() / 2));
    }
    m_window->show();
    clearWindowManagerTitle(m_window);
    m_window->raise();
    m_window->activateWindow();
}

QString AboutWindowController::versionText() const
{
    return aboutVersionText(QString::fromUtf8(build::shortVersion),
                            QString::fromUtf8(build::buildNumber));
}

} // namespace kmb
