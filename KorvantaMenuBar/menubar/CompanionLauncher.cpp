#include "menubar/CompanionLauncher.h"

#include "companion/CompanionLocations.h"
#include "companion/DesktopEntry.h"
#include "companion/ProgramFiles.h"
#include "status/BoundedFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <cstdio>
#include <sys/stat.h>
#include <syslog.h>

namespace kmb {

namespace {

// Room for an Exec line of 1 MiB plus the rest of an ordinary desktop file.
constexpr qint64 kMaxDesktopFileBytes = (1 << 20) + (64 << 10);

bool exists(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0;
}

bool isDirectory(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool tryExecSucceeds(const QString& tryExec, const QStringList& searchPath)
{
    if (tryExec.startsWith(QLatin1Char('/')))
        return isExecutableFile(tryExec);
    return findExecutableInPath(tryExec, searchPath).has_value();
}

StartResult startDetachedProcess(const QString& program, const QStringList& arguments,
                                 const QString& workingDirectory,
                                 const QProcessEnvironment& environment)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setWorkingDirectory(workingDirectory);
    process.setProcessEnvironment(environment);
    qint64 pid = 0;
    if (process.startDetached(&pid))
        return {true, {}};
    return {false, process.errorString()};
}

void writeSystemLogLine(const QString& line)
{
    static const bool opened = [] {
        ::openlog("KorvantaMenuBar", LOG_PID, LOG_USER);
        return true; // mutate: ignore (the value only makes the call happen once)
    }();
    Q_UNUSED(opened);
    const QByteArray utf8 = line.toUtf8();
    ::syslog(LOG_NOTICE, "%s", utf8.constData());
    std::fprintf(stderr, "%s\n", utf8.constData());
}

} // namespace

CompanionLauncher::CompanionLauncher(LauncherEnvironment environment)
    : m_environment(std::move(environment))
{
    if (!m_environment.startProcess)
        m_environment.startProcess = [](const QString&, const QStringList&, const QString&,
                                        const QProcessEnvironment&) {
            return StartResult{false, QStringLiteral("no way to start processes")};
        };
    if (!m_environment.log)
        m_environment.log = [](const QString&) {};
    if (!m_environment.beep)
        m_environment.beep = [] {};
}

LauncherEnvironment CompanionLauncher::forThisProcess(std::function<void()> beep,
                                                      const QList<QByteArray>& setByUs)
{
    LauncherEnvironment environment;
    environment.childEnvironment = QProcessEnvironment::systemEnvironment();
    for (const QByteArray& name : setByUs)
        environment.childEnvironment.remove(QString::fromLatin1(name));
    environment.bundleDirectory = QCoreApplication::applicationDirPath();
    environment.xdgDataHome =
        resolveXdgDataHome(qEnvironmentVariable("XDG_DATA_HOME"), QDir::homePath());
    environment.xdgDataDirs = resolveXdgDataDirs(qEnvironmentVariable("XDG_DATA_DIRS"));
    environment.executableSearchPath = resolveExecutableSearchPath(
        qEnvironmentVariableIsSet("PATH") ? std::optional(qEnvironmentVariable("PATH"))
                                          : std::nullopt);
    environment.startProcess = &startDetachedProcess;
    environment.log = &writeSystemLogLine;
    environment.beep = std::move(beep);
    return environment;
}

QProcessEnvironment CompanionLauncher::environmentFor(const LaunchActivation& activation) const
{
    QProcessEnvironment environment = m_environment.childEnvironment;
    // Ids of an earlier launch (ours) must not reach Korvanta; this launch's may.
    const std::pair<QString, QString> ids[] = {
        {QStringLiteral("DESKTOP_STARTUP_ID"), activation.startupId},
        {QStringLiteral("XDG_ACTIVATION_TOKEN"), activation.activationToken}};
    for (const auto& [name, value] : ids) {
        if (value.isEmpty())
            environment.remove(name);
        else
            environment.insert(name, value);
    }
    return environment;
}

void CompanionLauncher::openCompanionApp(const QStringList& arguments,
                                         const LaunchActivation& activation)
{
    const std::optional<QString> located = locateCompanionApp();
    if (!located) {
        openCompanionAppByBundleIdentifier(arguments, activation);
        return;
    }
    // A directory is an AppDir: its AppRun is the entry point.
    const QString program = isDirectory(*located) ? *located + QStringLiteral("/AppRun") : *located;
    QString failure;
    if (const auto refusal = refusalToRunProgram(program)) {
        failure = *refusal;
    } else {
        const StartResult result =
            m_environment.startProcess(program, arguments, QString(), environmentFor(activation));
        if (result.started)
            return;
        failure = result.errorText;
    }
    logLine(QStringLiteral("Failed to open Korvanta via URL: ") + failure);
    openCompanionAppByBundleIdentifier(arguments, activation);
}

std::optional<QString> CompanionLauncher::locateCompanionApp() const
{
    for (const QString& candidate : companionCandidatePaths(m_environment.bundleDirectory)) {
        if (exists(candidate))
            return candidate;
    }
    return std::nullopt;
}

std::optional<QString> CompanionLauncher::locateDesktopFile() const
{
    for (const QString& candidate :
         desktopFileCandidatePaths(m_environment.xdgDataHome, m_environment.xdgDataDirs)) {
        if (exists(candidate))
            return candidate;
    }
    return std::nullopt;
}

void CompanionLauncher::openCompanionAppByBundleIdentifier(const QStringList& arguments,
                                                           const LaunchActivation& activation)
{
    const std::optional<QString> desktopFile = locateDesktopFile();
    if (!desktopFile) {
        m_environment.beep();
        return;
    }
    // Never waits (a FIFO must not stall the GUI thread): regular files of a bounded size only.
    const FileBytes read = readRegularFile(*desktopFile, kMaxDesktopFileBytes);
    if (!read.bytes) {
        failBundleIdentifierRoute(*desktopFile + QStringLiteral(": ") + read.error.reason);
        return;
    }
    const DesktopLaunchPlan plan = planDesktopLaunch(*read.bytes, *desktopFile, arguments);
    // Hidden and a failing TryExec mean "not installed", just like a missing file.
    if (plan.kind == DesktopLaunchPlan::Kind::Hidden ||
        (plan.tryExec && !tryExecSucceeds(*plan.tryExec, m_environment.executableSearchPath))) {
        m_environment.beep();
        return;
    }
    if (plan.kind == DesktopLaunchPlan::Kind::Invalid) {
        failBundleIdentifierRoute(*desktopFile + QStringLiteral(": ") + plan.error);
        return;
    }

    QString program = plan.command.program;
    if (program.startsWith(QLatin1Char('/'))) {
        if (const auto refusal = refusalToRunProgram(program)) {
            failBundleIdentifierRoute(*refusal);
            return;
        }
    } else if (program.contains(QLatin1Char('/'))) {
        failBundleIdentifierRoute(
            QStringLiteral("%1: Exec program %2 is neither an absolute path nor a bare name")
                .arg(*desktopFile, program));
        return;
    } else if (const auto found =
                   findExecutableInPath(program, m_environment.executableSearchPath)) {
        program = *found;
    } else {
        failBundleIdentifierRoute(
            QStringLiteral("%1: Exec program %2 is not in PATH").arg(*desktopFile, program));
        return;
    }

    const StartResult result = m_environment.startProcess(program, plan.command.arguments,
                                                          plan.workingDirectory.value_or(QString()),
                                                          environmentFor(activation));
    if (!result.started)
        failBundleIdentifierRoute(result.errorText);
}

void CompanionLauncher::logLine(const QString& line)
{
    // Reasons may quote an Exec line of up to a megabyte; the log needs only its start.
    constexpr qsizetype kMaxLogLineLength = 1024;
    if (line.size() <= kMaxLogLineLength)
        m_environment.log(line);
    else
        m_environment.log(line.left(kMaxLogLineLength) + QChar(0x2026));
}

void CompanionLauncher::failBundleIdentifierRoute(const QString& reason)
{
    logLine(QStringLiteral("Failed to open Korvanta via bundle identifier: ") + reason);
    m_environment.beep();
}

} // namespace kmb
