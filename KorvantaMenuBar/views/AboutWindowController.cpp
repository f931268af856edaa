#include "views/AboutWindowController.h"

#include "BuildInfo.h"
#include "menubar/X11WindowHints.h"
#include "views/AboutWindowView.h"
#include "views/AppIconView.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

namespace kmb {

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
    // The window shows no title.
    clearWindowTitle(m_window);
    m_window->raise();
    m_window->activateWindow();
}

QString AboutWindowController::versionText() const
{
    return aboutVersionText(QString::fromUtf8(build::shortVersion),
                            QString::fromUtf8(build::buildNumber));
}

} // namespace kmb
