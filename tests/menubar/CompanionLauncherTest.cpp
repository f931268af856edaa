// Finding and starting Korvanta: its bundle beside ours, else its desktop file.

#include "menubar/CompanionLauncher.h"
#include "TestSupport.h"

#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace kmb;

namespace {

const QString desktopFile = QStringLiteral("/applications/com.korvanta.Korvanta.desktop");

// A script, directory or dangling link below the fake root or, with `lines`, Korvanta's desktop
// file in the data directory `path` ("@" in `lines` is the root).
struct File {
    const char* path;
    const char* lines = nullptr;
    mode_t mode = S_IFREG | 0755; // S_IFIFO with `lines`: a FIFO in the desktop file's place
    qsizetype size = 0;           // of a desktop file, padded with a comment
};

// Our executable in @/a/b/c/bundle; data home "home", data dirs "dir1" and "dir2"; PATH "bin"
// with from-home, from-dir1 and plain (not executable). What the launcher does lands in `events`.
struct FakeMachine {
    test::FakeTree tree;
    QStringList events;
    QStringList failingStarts;

    explicit FakeMachine(const QList<File>& files)
    {
        const QList<File> machine{{"a/b/c/bundle", nullptr, S_IFDIR},
                                  {"bin/plain", nullptr, S_IFREG | 0644},
                                  {"bin/from-home"},
                                  {"bin/from-dir1"}};
        for (const File& file : machine + files) {
            const QString path = file.path + (file.lines ? desktopFile : QString());
            const QByteArray native = QFile::encodeName(tree.path(path));
            QByteArray bytes =
                file.lines ? "[Desktop Entry]\n" + QByteArray(file.lines) + "\n#" : "#!/bin/sh\n";
            tree.write(path, bytes.replace('@', tree.root().toUtf8())
                                 .append(std::max(file.size - bytes.size(), qsizetype(0)), 'x'));
            if (!S_ISREG(file.mode))
                ::unlink(native.constData());
            EXPECT_EQ(S_ISDIR(file.mode)    ? ::mkdir(native.constData(), 0755)
                      : S_ISLNK(file.mode)  ? ::symlink("missing", native.constData())
                      : S_ISFIFO(file.mode) ? ::mkfifo(native.constData(), 0644)
                                            : ::chmod(native.constData(), file.mode & 07777),
                      0);
        }
    }
    QString at(QString text) const { return text.replace(tree.root(), "@"); }
    QStringList open()
    {
        const auto start = [this](const QString& program, const QStringList& arguments,
                                  const QString& dir, const QProcessEnvironment&) {
            events << at("start " + (QStringList(program) + arguments).join(' ') +
                         (dir.isEmpty() ? QString() : " in " + dir));
            return StartResult{!failingStarts.contains(at(program)), "boom"};
        };
        const auto log = [this](const QString& line) { events << at("log " + line); };
        const QStringList dataDirs{tree.path("dir1"), tree.path("dir2")};
        CompanionLauncher(LauncherEnvironment{tree.path("a/b/c/bundle"), tree.path("home"),
                                              dataDirs, QStringList(tree.path("bin")),
                                              QProcessEnvironment(), start, log,
                                              [this] { events << "beep"; }})
            .openCompanionApp({"--show-feedback"});
        return events;
    }
};

} // namespace

// The files, then what the launcher does, each event beginning with the text given: every
// failure logs one line, and a request that starts nothing ends in exactly one beep.
TEST(CompanionLauncher, Routes)
{
    const QString url = "log Failed to open Korvanta via URL: ";
    const QString byId = "log Failed to open Korvanta via bundle identifier: ";
    const QString home = byId + "@/home" + desktopFile + ": ";
    const struct {
        QList<File> files;
        QStringList events;
        QStringList failingStarts = {};
    } cases[] = {
        // The bundle: the first candidate there (symlinks followed), an AppDir's AppRun.
        {{{"a/b/c/Korvanta.app"}, {"a/b/Korvanta.app"}}, {"start @/a/b/c/Korvanta.app --show-"}},
        {{{"a/b/c/Korvanta.app", nullptr, S_IFLNK}, {"a/Korvanta.app"}},
         {"start @/a/Korvanta.app "}},
        {{{"a/b/Korvanta.app/AppRun"}}, {"start @/a/b/Korvanta.app/AppRun --show-feedback"}},
        {{{"a/b/Korvanta.app", nullptr, S_IFDIR}, {"a/Korvanta.app"}},
         {url + "@/a/b/Korvanta.app/AppRun: No such file", "beep"}},
        {{{"a/b/Korvanta.app", nullptr, S_IFREG | 0775},
          {"dir1", "TryExec=@/bin/from-dir1\nExec=@/bin/from-dir1"}},
         {url + "@/a/b/Korvanta.app is writable by", "start @/bin/from-dir1 --show-feedback"}},
        {{}, {"beep"}},
        // Starts that fail: both routes.
        {{{"a/b/Korvanta.app"}, {"home", "Exec=from-home"}},
         {"start @/a/b/Korvanta.app", url + "boom", "start @/bin/from-home", byId + "boom", "beep"},
         {"@/a/b/Korvanta.app", "@/bin/from-home"}},
        // The desktop file: the first there decides; Hidden and a failing TryExec mean none.
        {{{"home", "TryExec=from-home\nExec=from-home %f --x\nPath=/tmp"}, {"dir1", "Exec=x"}},
         {"start @/bin/from-home --x --show-feedback in /tmp"}},
        {{{"dir1", "Name=K"}, {"dir2", "Exec=from-dir2"}},
         {byId + "@/dir1" + desktopFile + ": desktop file has", "beep"}},
        {{{"home", "Hidden=true"}, {"dir1", "Exec=from-dir1"}}, {"beep"}},
        {{{"dir2", "TryExec=plain\nExec=from-dir2"}}, {"beep"}},
        {{{"bin/from-home", nullptr, S_IFREG | 0757}, {"home", "Exec=@/bin/from-home"}},
         {byId + "@/bin/from-home is writable by group", "beep"}},
        {{{"home", "Exec=not-on-path"}}, {home + "Exec program not-on-path is not in", "beep"}},
        {{{"home", "Exec=bin/from-home"}},
         {home + "Exec program bin/from-home is neither", "beep"}},
        {{{"home", "Exec=from-home", S_IFREG | 0644, 1'114'112}}, {"start @/bin/from-home"}},
        {{{"home", "Exec=from-home", S_IFREG | 0644, 1'114'113}},
         {home + "larger than 1114112", "beep"}},
        {{{"home", "", S_IFIFO}, {"dir1", "Exec=from-dir1"}}, {home + "not a regular", "beep"}}};
    for (const auto& c : cases) {
        FakeMachine machine(c.files);
        machine.failingStarts = c.failingStarts;
        const QStringList events = machine.open();
        ASSERT_EQ(events.size(), c.events.size()) << events.join('\n').toStdString();
        for (qsizetype i = 0; i < events.size(); ++i)
            EXPECT_TRUE(events[i].startsWith(c.events[i])) << events.join('\n').toStdString();
    }
}

// ProgramFiles' rule through the launcher, in a child: root gives the program to nobody; others
// map only their uid in a user namespace, which makes root's programs nobody's.
TEST(CompanionLauncher, AProgramOfAnotherUserIsRefused)
{
    FakeMachine machine({{"a/b/Korvanta.app"}});
    const QByteArray program = QFile::encodeName(machine.tree.path("a/b/Korvanta.app"));
    QFile uidMap("/proc/self/uid_map");
    const QByteArray ourUid = "0 " + QByteArray::number(::geteuid()) + " 1";
    const pid_t child = ::fork();
    if (child == 0) {
        const bool foreign =
            (::geteuid() == 0 && ::chown(program.constData(), 65534, 65534) == 0) ||
            (::unshare(CLONE_NEWUSER) == 0 &&
             uidMap.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
             uidMap.write(ourUid) == ourUid.size() && ::unlink(program.constData()) == 0 &&
             ::symlink("/bin/sh", program.constData()) == 0);
        ::_exit(!foreign ? 2
                : machine.open() == QStringList{"log Failed to open Korvanta via URL: "
                                                "@/a/b/Korvanta.app is owned by another user "
                                                "(uid 65534); refusing to run it",
                                                "beep"}
                    ? 0
                    : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (status == 2 << 8)
        GTEST_SKIP() << "no file of another user here: root may not give one away, and no user "
                        "namespace can be made";
    EXPECT_EQ(status, 0) << "wait status";
}

// Odd arguments reach a real process unchanged, with this launch's activation token and no
// stale startup id (what we set ourselves is left out end to end).
TEST(CompanionLauncher, RealProcessReceivesTheArgumentsAndThisLaunchsIds)
{
    const QStringList arguments{"--show-feedback", "two words", "$HOME", "*", "\"q\""};
    FakeMachine machine({{"a/b/Korvanta.app"}});
    const QString out = machine.tree.path("args.out");
    machine.tree.write("a/b/Korvanta.app",
                       "#!/bin/sh\nprintf '%s\\n' \"$@\" \"${DESKTOP_STARTUP_ID:--}\" "
                       "\"${XDG_ACTIVATION_TOKEN:--}\" > \"$0.out\"\nmv \"$0.out\" \"" +
                           QFile::encodeName(out) + "\"\n");
    qputenv("DESKTOP_STARTUP_ID", "ours_TIME1");
    LauncherEnvironment environment = CompanionLauncher::forThisProcess({}, {});
    qunsetenv("DESKTOP_STARTUP_ID");
    environment.bundleDirectory = machine.tree.path("a/b/c/bundle");
    environment.xdgDataHome = machine.tree.path("home");
    environment.xdgDataDirs = {};
    environment.log = [&](const QString& line) { machine.events << line; };
    CompanionLauncher(environment).openCompanionApp(arguments, {"", "token-7"});
    ASSERT_TRUE(test::waitFor([&] { return QFile::exists(out); }))
        << machine.events.join('\n').toStdString();
    EXPECT_EQ(machine.events, QStringList()); // started, nothing logged
    QFile file(out);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), (arguments + QStringList{"-", "token-7"}).join('\n').toUtf8() + '\n');
}
