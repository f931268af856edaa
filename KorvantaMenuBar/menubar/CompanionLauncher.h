#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace kmb {

struct StartResult {
    bool started = false;
    QString errorText; // why the process did not start
};

// Starts `program` with `arguments` as an argument vector, detached, in `workingDirectory`
// (empty: ours) with `environment`. Reports synchronously whether it started.
using ProcessStarter = std::function<StartResult(
    const QString& program, const QStringList& arguments, const QString& workingDirectory,
    const QProcessEnvironment& environment)>;

// What lets the session bring the launched program to the front: a startup id carrying the
// X time of the input that asked for the launch (X11, XWayland), a tray host's activation
// token (Wayland). Empty when there is none.
struct LaunchActivation {
    QString startupId;       // DESKTOP_STARTUP_ID
    QString activationToken; // XDG_ACTIVATION_TOKEN
};

// Everything the launcher reads from or does to the outside world.
struct LauncherEnvironment {
    QString bundleDirectory; // the directory holding our executable
    QString xdgDataHome;
    QStringList xdgDataDirs;
    QStringList executableSearchPath; // for bare program names in a desktop file
    // The environment Korvanta starts with: the session's, as it was before we changed ours.
    QProcessEnvironment childEnvironment;
    ProcessStarter startProcess;
    std::function<void(const QString& line)> log;
    std::function<void()> beep;
};

// Opens Korvanta: first from a bundle next to our own, then through its desktop file. A
// failed attempt logs one line; a request that launches nothing ends in exactly one beep.
class CompanionLauncher {
public:
    explicit CompanionLauncher(LauncherEnvironment environment);

    // This process's bundle directory, XDG directories and PATH, its environment without the
    // variables we set in it ourselves (`setByUs`), a detached QProcess starter, the system
    // log, and `beep` for the alert sound.
    static LauncherEnvironment forThisProcess(std::function<void()> beep,
                                              const QList<QByteArray>& setByUs);

    void openCompanionApp(const QStringList& arguments, const LaunchActivation& activation = {});
    // The first candidate bundle location that exists, symlinks followed (a dangling link
    // does not count).
    std::optional<QString> locateCompanionApp() const;
    void openCompanionAppByBundleIdentifier(const QStringList& arguments,
                                            const LaunchActivation& activation = {});
    // The desktop file that decides the bundle-identifier route: the first candidate that
    // exists as anything, in XDG precedence order.
    std::optional<QString> locateDesktopFile() const;

private:
    QProcessEnvironment environmentFor(const LaunchActivation& activation) const;
    void logLine(const QString& line);
    void failBundleIdentifierRoute(const QString& reason);

    LauncherEnvironment m_environment;
};

} // namespace kmb
