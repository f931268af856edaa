#include "app/MenuBarAppDelegate.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KorvantaMenuBar"));
    QApplication::setOrganizationName(QStringLiteral("Korvanta"));
    QApplication::setQuitOnLastWindowClosed(
        kmb::MenuBarAppDelegate::applicationShouldTerminateAfterLastWindowClosed());

    kmb::MenuBarAppDelegate delegate;
    QTimer::singleShot(0, &delegate, &kmb::MenuBarAppDelegate::applicationDidFinishLaunching);
    return QApplication::exec();
}
