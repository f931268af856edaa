// Finding and starting Korvanta: its bundle beside ours, else its desktop file.

#include "menubar/CompanionLauncher.h"
#include "TestSupport.h"
#include "companion/CompanionLocations.h"
#include "companion/DesktopEntry.h"

#include <QThread>
#include <sys/stat.h>

namespace {

using namespace kmb;
using Kind = DesktopLaunchPlan::Kind;
using kmb::test::FakeTree;

TEST(CompanionLocations, PathArithmetic)
{
    EXPECT_EQ(companionCandidatePaths("/opt"),
              QStringList({"/opt/MacOS/Korvanta.app", "/Korvanta.app", "/Korvanta.app",
                           "/Korvanta.app", "/Korvanta.app"}));
    EXPECT_EQ(companionCandidatePaths("/").first(), "/MacOS/Korvanta.app");
    EXPECT_EQ(companionCandidatePaths("relative/bin"), QStringList());
    EXPECT_EQ(companionCandidatePaths(""), QStringList());
    EXPECT_EQ(resolveXdgDataHome("rel/dir", "/home/u"), "/home/u/.local/share");
    EXPECT_EQ(resolveXdgDataHome("/xdg", "/home/u"), "/xdg");
    EXPECT_EQ(resolveXdgDataHome("", ""), "");
    EXPECT_EQ(resolveXdgDataDirs(""), QStringList({"/usr/local/share", "/usr/share"}));
    EXPECT_EQ(resolveXdgDataDirs("/a:rel::/b"), QStringList({"/a", "/b"}));
    EXPECT_EQ(desktopFileCandidatePaths("", {"/b/"}),
              QStringList{"/b/applications/com.korvanta.Korvanta.desktop"});
    EXPECT_EQ(resolveExecutableSearchPath(std::nullopt), QStringList({"/bin", "/usr/bin"}));
    EXPECT_EQ(resolveExecutableSearchPath(QString(":/usr/bin:.:bin")), QStringList({"/usr/bin"}));
}

// Exec lines after the string escapes: words, quotes and their escapes, field codes.
TEST(DesktopEntry, ExecLines)
{
    const std::pair<const char*, const char*> launches[] = {
        {"Exec=run -a  b\t c", "run|-a|b|c"},
        {R"(Exec="/opt/My App/run" "two words")", "/opt/My App/run|two words"},
        {R"(Exec=run "say \\"hi\\"" "\\$HOME" "\\`x\\`" "\\\\")", R"(run|say "hi"|$HOME|`x`|\)"},
        {R"(Exec=run a\sb pre"fix x"post "" '$HOME' *)", "run|a|b|prefix xpost||'$HOME'|*"},
        {"Exec=run 100%% \"50%\" %%", "run|100%|50%|%"},
        {"Exec=run %i\nIcon=korvanta", "run|--icon|korvanta"},
        {"Exec=run %i x", "run|x"},
        {"Exec=run --title=%c\nName=Korvanta \"Cleaner\"", "run|--title=Korvanta \"Cleaner\""},
        {"Exec=run %k", "run|/apps/k.desktop"},
        {"Exec=run %f %F --x %u %U --file=%f", "run|--x|--file="},
        {"Exec=run %d %D %n %N %v %m", "run"},
        {"Exec = run %c\nExec=second\nName[de] = Reiniger\nName=K", "run|K"}};
    for (const auto& [lines, expected] : launches) {
        const DesktopLaunchPlan plan =
            planDesktopLaunch("[Desktop Entry]\n" + QByteArray(lines), "/apps/k.desktop", {"--a"});
        ASSERT_EQ(plan.kind, Kind::Launch) << lines << plan.error.toStdString();
        EXPECT_EQ(QStringList(plan.command.program) + plan.command.arguments,
                  QString::fromUtf8(expected).split(u'|') + QStringList{"--a"})
            << lines;
    }
    for (const char* lines :
         {"Exec=run %z", "Exec=run 50%", "Exec=run x%i", "Exec=run %ix", "Exec=run \"abc",
          "Exec=run \"abc\\\"", "Exec=", "Exec=  %f ", "Name=no exec", "Exec=run \xff\xfe"}) {
        const DesktopLaunchPlan plan =
            planDesktopLaunch("[Desktop Entry]\n" + QByteArray(lines), "/apps/k.desktop", {});
        EXPECT_EQ(plan.kind, Kind::Invalid) << lines;
        EXPECT_FALSE(plan.error.isEmpty()) << lines;
    }
    const QByteArray huge(1 << 20, 'a');
    const DesktopLaunchPlan big =
        planDesktopLaunch("[Desktop Entry]\nExec=run " + huge + " \"" + huge + "\"", "/k", {});
    EXPECT_EQ(big.command.arguments, QStringList({huge, huge}));
}

// Only the first [Desktop Entry] group counts, only its first, unlocalised keys.
TEST(DesktopEntry, FileStructure)
{
    const DesktopLaunchPlan plan = planDesktopLaunch(
        "# comment\r\n[Desktop Entry]\r\nExec=run\r\nTryExec=korvanta\r\nPath=/tmp\r\n"
        "Hidden=false\r\n[Desktop Action clean]\nExec=evil\n[Desktop Entry]\nExec=evil\n",
        "/k", {});
    ASSERT_EQ(plan.kind, Kind::Launch) << plan.error.toStdString();
    EXPECT_EQ(plan.command.program, "run");
    EXPECT_EQ(plan.tryExec, "korvanta");
    EXPECT_EQ(plan.workingDirectory, "/tmp");
    EXPECT_EQ(planDesktopLaunch("[Desktop Entry]\nHidden=true\nExec=\"", "/k", {}).kind,
              Kind::Hidden);
    EXPECT_EQ(planDesktopLaunch("[Desktop Entry]\nTryExec=/x\nExec=\"", "/k", {}).tryExec, "/x");
    for (const QByteArray& bytes : {QByteArray("[Desktop Entry]\nExec=run\0x", 26),
                                    QByteArray("[Other]\nExec=run\n"), QByteArray()})
        EXPECT_EQ(planDesktopLaunch(bytes, "/k", {}).kind, Kind::Invalid) << bytes.toStdString();
}

// A fake machine: our bundle at <root>/a/b/c/bundle, data home "home", data dirs "dir1" and
// "dir2", PATH "bin" with from-home, from-dir1 and from-dir2 (and plain, not executable).
// What the launcher does lands in `events`, with the root written "@".
struct FakeMachine {
    FakeTree tree;
    QStringList events;
    QStringList failingStarts;

    FakeMachine()
    {
        QDir().mkpath(tree.path("a/b/c/bundle"));
        plant("bin/from-home | bin/from-dir1 | bin/from-dir2 | bin/plain 644");
    }
    QString at(const QString& text) const { return QString(text).replace(tree.root(), "@"); }

    CompanionLauncher launcher()
    {
        return CompanionLauncher(LauncherEnvironment{
            tree.path("a/b/c/bundle"),
            tree.path("home"),
            {tree.path("dir1"), tree.path("dir2")},
            {tree.path("bin")},
            QProcessEnvironment(),
            [this](const QString& program, const QStringList& arguments, const QString& dir,
                   const QProcessEnvironment&) {
                events << at("start " + (QStringList(program) + arguments).join(' ') +
                             (dir.isEmpty() ? "" : " in " + dir));
                return failingStarts.contains(at(program)) ? StartResult{false, "boom"}
                                                           : StartResult{true, {}};
            },
            [this](const QString& line) { events << at("log " + line); },
            [this] { events << "beep"; }});
    }

    // "a/b/Korvanta.app" an executable script, "… 757" with that mode, "… foreign" owned by
    // nobody, "…/" a directory, "… -> x" a symlink to <root>/x; "home: Exec=…" the desktop
    // file of a data directory ("@" its root), "home: FIFO" or "home: HUGE" (64 MiB) instead.
    void plant(const QString& files)
    {
        for (const QString& file : files.split(" | ", Qt::SkipEmptyParts)) {
            const QString path = tree.path(file.section(' ', 0, 0));
            const QString rest = file.section(' ', 1);
            if (file.contains(": ")) {
                const QString desktop =
                    file.section(':', 0, 0) + "/applications/com.korvanta.Korvanta.desktop";
                const QString body = file.section(": ", 1);
                tree.write(desktop, "[Desktop Entry]\n" +
                                        QString(body).replace("@", tree.root()).toUtf8() + "\n");
                const QByteArray native = QFile::encodeName(tree.path(desktop));
                if (body == "FIFO") {
                    ASSERT_TRUE(::unlink(native.constData()) == 0 &&
                                ::mkfifo(native.constData(), 0644) == 0);
                }
                if (body == "HUGE") {
                    ASSERT_EQ(::truncate(native.constData(), 64 << 20), 0);
                }
            } else if (file.endsWith('/')) {
                ASSERT_TRUE(QDir().mkpath(path));
            } else if (rest.startsWith("-> ")) {
                ASSERT_TRUE(QFile::link(tree.path(rest.mid(3)), path));
            } else {
                tree.write(file.section(' ', 0, 0), "#!/bin/sh\n");
                const bool octal = !rest.isEmpty() && rest[0].isDigit();
                const QByteArray native = QFile::encodeName(path);
                ASSERT_EQ(::chmod(native.constData(), octal ? rest.toUInt(nullptr, 8) : 0755), 0);
                if (rest == "foreign") {
                    ASSERT_EQ(::chown(native.constData(), 65534, 65534), 0);
                }
            }
        }
    }
};

// Each event begins with the expected text. Every failure logs one line, and a request that
// starts nothing ends in exactly one beep.
TEST(CompanionLauncher, Routes)
{
    const QString url = "log Failed to open Korvanta via URL: ";
    const QString desktop = "log Failed to open Korvanta via bundle identifier: ";
    const QString home = desktop + "@/home/applications/com.korvanta.Korvanta.desktop: ";
    const QString writable = " is writable by group or others";
    const struct {
        const char* files;
        QStringList events;
        const char* failing = "";
    } cases[] = {
        // The bundle candidates in order; a dangling link does not count, a directory is an
        // AppDir whose AppRun is started.
        {"a/b/c/Korvanta.app | a/b/Korvanta.app", {"start @/a/b/c/Korvanta.app --show-feedback"}},
        {"a/b/Korvanta.app | a/Korvanta.app", {"start @/a/b/Korvanta.app --show-feedback"}},
        {"a/b/c/bundle/MacOS/Korvanta.app | a/Korvanta.app",
         {"start @/a/b/c/bundle/MacOS/Korvanta.app --show-feedback"}},
        {"a/b/c/Korvanta.app -> missing | a/Korvanta.app", {"start @/a/Korvanta.app --show-"}},
        {"a/b/c/Korvanta.app/AppRun", {"start @/a/b/c/Korvanta.app/AppRun --show-feedback"}},
        {"a/b/c/Korvanta.app/ | a/Korvanta.app",
         {url + "@/a/b/c/Korvanta.app/AppRun: No such file", "beep"}},
        {"", {"beep"}},
        // A failing start, a refused program, then the desktop file.
        {"a/b/Korvanta.app/AppRun | home: Exec=from-home --from-desktop",
         {"start @/a/b/Korvanta.app/AppRun", url + "boom",
          "start @/bin/from-home --from-desktop --show-feedback"},
         "@/a/b/Korvanta.app/AppRun"},
        {"a/b/Korvanta.app | home: Exec=from-home",
         {"start @/a/b/Korvanta.app", url + "boom", "start @/bin/from-home", desktop + "boom",
          "beep"},
         "@/a/b/Korvanta.app | @/bin/from-home"},
        {"a/b/Korvanta.app 775 | dir1: Exec=@/bin/from-dir1",
         {url + "@/a/b/Korvanta.app" + writable, "start @/bin/from-dir1 --show-feedback"}},
        {"a/b/Korvanta.app 757", {url + "@/a/b/Korvanta.app" + writable, "beep"}},
        {"a/b/Korvanta.app foreign", {url + "@/a/b/Korvanta.app is owned by another user", "beep"}},
        {"bin/from-home 757 | home: Exec=@/bin/from-home",
         {desktop + "@/bin/from-home" + writable, "beep"}},
        // The desktop file: the first one there decides, Hidden and a failing TryExec mean
        // not installed.
        {"home: Exec=from-home\nPath=/tmp | dir1: Exec=from-dir1",
         {"start @/bin/from-home --show-feedback in /tmp"}},
        {"dir1: Exec=from-dir1 | dir2: Exec=from-dir2", {"start @/bin/from-dir1"}},
        {"home: Hidden=true | dir1: Exec=from-dir1", {"beep"}},
        {"dir2: TryExec=not-there\nExec=from-dir2", {"beep"}},
        {"dir2: TryExec=@/bin/plain\nExec=from-dir2", {"beep"}},
        {"dir2: TryExec=plain\nExec=from-dir2", {"beep"}},
        {"dir2: TryExec=from-dir2\nExec=from-dir2 %f --x", {"start @/bin/from-dir2 --x --show-"}},
        {"home: Name=K | dir1: Exec=from-dir1", {home, "beep"}},
        {"home: Exec=from-home \"a", {home, "beep"}},
        {"home: Exec=not-on-path", {home + "Exec program not-on-path is not in PATH", "beep"}},
        {"home: Exec=bin/from-home", {home + "Exec program bin/from-home is neither", "beep"}},
        {"home: HUGE | dir1: Exec=from-dir1", {home + "larger than", "beep"}},
        {"home: FIFO | dir1: Exec=from-dir1", {home + "not a regular file", "beep"}}};
    for (const auto& c : cases) {
        if (QString(c.files).contains("foreign") && ::geteuid() != 0)
            continue; // only root can give a file to another user
        FakeMachine machine;
        machine.plant(c.files);
        machine.failingStarts = QString(c.failing).split(" | ", Qt::SkipEmptyParts);
        machine.launcher().openCompanionApp({"--show-feedback"});
        ASSERT_EQ(machine.events.size(), c.events.size())
            << c.files << "\n"
            << machine.events.join('\n').toStdString();
        for (qsizetype i = 0; i < c.events.size(); ++i)
            EXPECT_TRUE(machine.events[i].startsWith(c.events[i]))
                << c.files << "\n"
                << machine.events[i].toStdString();
    }
}

// The real starter: the arguments reach the process unchanged, for a file and an AppDir, in
// the session's environment: without what we set ourselves (the platform of our choice), with
// this launch's startup id or activation token and no stale one.
TEST(CompanionLauncher, RealProcessReceivesTheArgumentsAndTheSessionsEnvironment)
{
    const QStringList arguments{"--show-feedback", "two words", "$HOME", "*", "\"q\""};
    const struct {
        const char* location;
        QList<QByteArray> setByUs;
        LaunchActivation activation;
        QStringList environment; // QT_QPA_PLATFORM, DESKTOP_STARTUP_ID, XDG_ACTIVATION_TOKEN
    } cases[] = {
        {"a/b/Korvanta.app", {"QT_QPA_PLATFORM"}, {"k-1_TIME42", ""}, {"-", "k-1_TIME42", "-"}},
        {"a/b/Korvanta.app/AppRun", {}, {"", "token-7"}, {"xcb", "-", "token-7"}},
    };
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("DESKTOP_STARTUP_ID", "ours_TIME1");
    for (const auto& c : cases) {
        FakeMachine machine;
        const QString out = machine.tree.path("args.out");
        machine.tree.write(c.location,
                           "#!/bin/sh\nprintf '%s\\n' \"$@\" \"${QT_QPA_PLATFORM:--}\" "
                           "\"${DESKTOP_STARTUP_ID:--}\" \"${XDG_ACTIVATION_TOKEN:--}\" "
                           "> \"" +
                               out.toUtf8() + ".tmp\"\nmv \"" + out.toUtf8() + ".tmp\" \"" +
                               out.toUtf8() + "\"\n");
        ::chmod(QFile::encodeName(machine.tree.path(c.location)).constData(), 0755);
        LauncherEnvironment environment =
            CompanionLauncher::forThisProcess([&] { machine.events << "beep"; }, c.setByUs);
        environment.bundleDirectory = machine.tree.path("a/b/c/bundle");
        environment.xdgDataHome = machine.tree.path("home");
        environment.xdgDataDirs = {};
        environment.log = [&](const QString& line) { machine.events << line; };
        CompanionLauncher(environment).openCompanionApp(arguments, c.activation);
        EXPECT_TRUE(kmb::test::waitFor([&] { return QFile::exists(out); }));
        QFile file(out);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << c.location;
        EXPECT_EQ(QString::fromUtf8(file.readAll()), (arguments + c.environment).join('\n') + '\n');
        EXPECT_EQ(machine.events, QStringList());
    }
    qunsetenv("QT_QPA_PLATFORM");
    qunsetenv("DESKTOP_STARTUP_ID");
}

} // namespace
