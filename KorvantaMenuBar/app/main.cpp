#include "app/CommandLine.h"
#include "app/MenuBarAppDelegate.h"
#include "app/PlatformChoice.h"
#include "app/QuitOnSignals.h"
#include "app/SingleInstance.h"
#include "menubar/CompanionLauncher.h"
#include "menubar/DayRecordStore.h"
#include "menubar/DesktopBell.h"
#include "status/LinuxStatusSampler.h"
#include "views/AppIcon.h"
#include "views/Translations.h"

#include <QApplication>
#include <QTimer>

namespace {

// The real machine: its /proc, /sys, home volume and Korvanta's history; this user's
// settings file; Korvanta started from next to us or through its desktop file.
kmb::MenuBarController::Dependencies thisMachine(const QList<QByteArray>& setByUs)
{
    kmb::MenuBarController::Dependencies dependencies;
    dependencies.sampler = kmb::LinuxStatusSampler::forThisMachine();
    dependencies.settingsPath = kmb::DayRecordStore::defaultSettingsPath();
    // The desktop's bell for a launch that failed; the sound server is contacted then.
    std::shared_ptr<kmb::DesktopBell> bell = kmb::DesktopBell::forThisDesktop();
    auto launcher = std::make_shared<kmb::CompanionLauncher>(
        kmb::CompanionLauncher::forThisProcess([bell] { bell->ring(); }, setByUs));
    dependencies.launchCompanion = [launcher](const QStringList& arguments,
                                              const kmb::LaunchActivation& activation) {
        launcher->openCompanionApp(arguments, activation);
    };
    return dependencies;
}

} // namespace

int main(int argc, char* argv[])
{
    // --help and --version answer without a display, so before QApplication.
    kmb::handleCommandLine(argc, argv);
    // Korvanta must not inherit our choice: what we set here stays out of its environment.
    const QList<QByteArray> setByUs = kmb::applyPlatformChoice();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KorvantaMenuBar"));
    QApplication::setOrganizationName(QStringLiteral("Korvanta"));
    // The desktop's switcher and taskbar show our windows (the About window) with our icon and
    // match them to our desktop entry (the Wayland app id; StartupWMClass on X11).
    QApplication::setDesktopFileName(QStringLiteral("com.korvanta.KorvantaMenuBar"));
    QApplication::setWindowIcon(kmb::appIcon());
    // The user's language where we have texts for it, English for any other, the texts as
    // written under the C locale; byte figures in the same language.
    kmb::installTranslations();
    QApplication::setQuitOnLastWindowClosed(
        kmb::MenuBarAppDelegate::applicationShouldTerminateAfterLastWindowClosed());

    kmb::SingleInstance instance;
    if (!instance.claim()) {
        // Already running in this session: show its dashboard instead of a second icon.
        kmb::SingleInstance::askRunningInstanceToShowDashboard();
        return 0;
    }
    kmb::QuitOnSignals quitOnSignals;

    kmb::MenuBarAppDelegate delegate(thisMachine(setByUs));
    QObject::connect(&instance, &kmb::SingleInstance::showDashboardRequested, &delegate,
                     &kmb::MenuBarAppDelegate::showDashboard);
    QTimer::singleShot(0, &delegate, &kmb::MenuBarAppDelegate::applicationDidFinishLaunching);
    return QApplication::exec();
}
