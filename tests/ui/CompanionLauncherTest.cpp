#include "menubar/CompanionLauncher.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kmb;

namespace {

using Starts = QList<QStringList>;

// A fake machine: our bundle at <root>/a/b/c/bundle, XDG data home "home", data dirs "dir1"
// and "dir2", PATH "bin", and recording doubles for starting, logging and beeping.
struct LauncherUnderTest {
    QTemporaryDir root;
    QString bundle = root.filePath("a/b/c/bundle");
    Starts starts;              // program followed by its arguments
    QList<StartResult> results; // consumed per start; success once exhausted
    QStringList logLines;
    int beeps = 0;

    LauncherUnderTest() { QDir().mkpath(bundle); }

    CompanionLauncher launcher()
    {
        return CompanionLauncher(LauncherEnvironment{
            bundle,
            root.filePath("home"),
            {root.filePath("dir1"), root.filePath("dir2")},
            {root.filePath("bin")},
            [this](const QString& program, const QStringList& arguments, const QString&) {
                starts.append(QStringList(program) + arguments);
                return results.isEmpty() ? StartResult{true, {}} : results.takeFirst();
            },
            [this](const QString& line) { logLines.append(line); },
            [this] { ++beeps; }});
    }

    QString write(const QString& relative, const QByteArray& contents = "#!/bin/sh\n",
                  int mode = 0755)
    {
        const QString path = root.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents);
        file.close();
        ::chmod(QFile::encodeName(path).constData(), mode);
        return path;
    }
    QString writeDesktop(const QString& dataDir, const QByteArray& body)
    {
        return write(dataDir + "/applications/com.korvanta.Korvanta.desktop",
                     "[Desktop Entry]\n" + body, 0644);
    }
};

} // namespace

TEST(CompanionLauncher, CandidateOrderOverAFakeTree)
{
    const struct {
        QStringList present; // "->" marks a dangling symlink, a trailing "/" a directory
        QString winner;
    } cases[] = {
        {{"a/b/c/Korvanta.app", "a/b/Korvanta.app"}, "a/b/c/Korvanta.app"},
        {{"a/b/Korvanta.app"}, "a/b/Korvanta.app"},
        {{"a/b/c/bundle/MacOS/Korvanta.app", "a/Korvanta.app"}, "a/b/c/bundle/MacOS/Korvanta.app"},
        {{"->a/b/c/Korvanta.app", "a/Korvanta.app"}, "a/Korvanta.app"},
        {{"a/b/c/Korvanta.app/"}, "a/b/c/Korvanta.app"},
    };
    for (const auto& c : cases) {
        LauncherUnderTest t;
        for (const QString& p : c.present) {
            if (p.startsWith("->"))
                QFile::link(t.root.filePath("missing"), t.root.filePath(p.mid(2)));
            else if (p.endsWith('/'))
                QDir().mkpath(t.root.filePath(p));
            else
                t.write(p);
        }
        EXPECT_EQ(t.launcher().locateCompanionApp(), t.root.filePath(c.winner));
    }
    EXPECT_EQ(LauncherUnderTest().launcher().locateCompanionApp(), std::nullopt);
}

TEST(CompanionLauncher, RoutesFailuresAndBeeps)
{
    LauncherUnderTest t;
    const QString file = t.write("a/b/c/Korvanta.app");
    t.launcher().openCompanionApp({"--show-feedback"});
    EXPECT_EQ(t.starts, (Starts{{file, "--show-feedback"}}));
    EXPECT_TRUE(t.logLines.isEmpty());

    // The located bundle (an AppDir here) fails: one URL line, then the desktop route.
    LauncherUnderTest u;
    const QString appRun = u.write("a/b/Korvanta.app/AppRun");
    const QString onPath = u.write("bin/korvanta");
    u.writeDesktop("home", "Exec=korvanta --from-desktop\n");
    u.results = {{false, "boom"}};
    u.launcher().openCompanionApp({});
    EXPECT_EQ(u.logLines, QStringList{"Failed to open Korvanta via URL: boom"});
    EXPECT_EQ(u.starts, (Starts{{appRun}, {onPath, "--from-desktop"}}));
    // Both fail: a second line and one beep.
    u.results = {{false, "boom"}, {false, "bang"}};
    u.launcher().openCompanionApp({});
    EXPECT_EQ(u.logLines.last(), "Failed to open Korvanta via bundle identifier: bang");
    EXPECT_EQ(u.logLines.size(), 3);
    EXPECT_EQ(t.beeps + u.beeps, 1);

    LauncherUnderTest none;
    none.launcher().openCompanionApp({});
    EXPECT_TRUE(none.starts.isEmpty() && none.logLines.isEmpty());
    EXPECT_EQ(none.beeps, 1);
}

TEST(CompanionLauncher, RefusesProgramsOthersCanChange)
{
    for (const int mode : {0775, 0757}) {
        LauncherUnderTest t;
        t.write("a/b/Korvanta.app", "#!/bin/sh\n", mode);
        const QString desktopExec = t.write("bin/korvanta");
        t.writeDesktop("dir1", "Exec=" + desktopExec.toUtf8() + "\n");
        t.launcher().openCompanionApp({});
        ASSERT_EQ(t.logLines.size(), 1);
        EXPECT_TRUE(t.logLines[0].startsWith("Failed to open Korvanta via URL: /"));
        EXPECT_TRUE(t.logLines[0].contains("writable by group or others"));
        EXPECT_EQ(t.starts, Starts{{desktopExec}});

        // The same rule for an absolute Exec program.
        ::chmod(QFile::encodeName(desktopExec).constData(), mode);
        t.launcher().openCompanionAppByBundleIdentifier({});
        EXPECT_EQ(t.starts.size(), 1);
        EXPECT_TRUE(
            t.logLines.last().startsWith("Failed to open Korvanta via bundle identifier: /"));
        EXPECT_TRUE(t.logLines.last().contains("writable by group or others"));
        EXPECT_EQ(t.beeps, 1);
    }
}

TEST(CompanionLauncher, DesktopFileLookup)
{
    enum Outcome { Launch, Beep, LogAndBeep };
    const struct {
        QByteArray home, dir1, dir2; // desktop file bodies ("@" is the root); empty: no file
        Outcome outcome;
        QString program; // launched from bin/
    } cases[] = {
        {"Exec=from-home\n", "Exec=from-dir1\n", "", Launch, "from-home"},
        {"", "Exec=from-dir1\n", "Exec=from-dir2\n", Launch, "from-dir1"},
        {"Hidden=true\n", "Exec=from-dir1\n", "", Beep, {}},
        {"", "", "TryExec=not-there\nExec=from-dir2\n", Beep, {}},
        {"", "", "TryExec=@/bin/plain\nExec=from-dir2\n", Beep, {}},
        {"", "", "TryExec=plain\nExec=from-dir2\n", Beep, {}},
        {"", "", "TryExec=from-dir2\nExec=from-dir2\n", Launch, "from-dir2"},
        {"Name=K\n", "Exec=from-dir1\n", "", LogAndBeep, {}},
        {"Exec=from-home \"a\n", "", "", LogAndBeep, {}},
        {"Exec=not-on-path\n", "", "", LogAndBeep, {}},
        {"Exec=bin/from-home\n", "", "", LogAndBeep, {}},
    };
    for (const auto& c : cases) {
        LauncherUnderTest t;
        for (const char* name : {"bin/from-home", "bin/from-dir1", "bin/from-dir2"})
            t.write(name);
        t.write("bin/plain", "#!/bin/sh\n", 0644);
        const QByteArray bodies[] = {c.home, c.dir1, c.dir2};
        const char* dirs[] = {"home", "dir1", "dir2"};
        for (int i = 0; i < 3; ++i) {
            if (!bodies[i].isEmpty())
                t.writeDesktop(dirs[i], QByteArray(bodies[i]).replace('@', t.root.path().toUtf8()));
        }
        t.launcher().openCompanionAppByBundleIdentifier({"--show-feedback"});
        const std::string label = (c.home + "|" + c.dir1 + "|" + c.dir2).toStdString();
        if (c.outcome == Launch) {
            EXPECT_EQ(t.starts, (Starts{{t.root.filePath("bin/" + c.program), "--show-feedback"}}))
                << label;
        } else {
            EXPECT_TRUE(t.starts.isEmpty()) << label;
        }
        EXPECT_EQ(t.logLines.size(), c.outcome == LogAndBeep ? 1 : 0) << label;
        EXPECT_EQ(t.beeps, c.outcome == Launch ? 0 : 1) << label;
    }
}

TEST(CompanionLauncher, UnreadableDesktopFilesFailWithoutHanging)
{
    LauncherUnderTest t;
    const QByteArray path = QFile::encodeName(t.writeDesktop("home", "Exec=x\n"));
    ASSERT_EQ(::truncate(path.constData(), 64 << 20), 0);
    t.launcher().openCompanionAppByBundleIdentifier({});
    ASSERT_TRUE(::unlink(path.constData()) == 0 && ::mkfifo(path.constData(), 0644) == 0);
    t.launcher().openCompanionAppByBundleIdentifier({});
    ASSERT_EQ(t.logLines.size(), 2);
    EXPECT_TRUE(t.logLines[0].contains("larger than"));
    EXPECT_TRUE(t.logLines[1].contains("not a regular file"));
    EXPECT_EQ(t.beeps, 2);
    EXPECT_TRUE(t.starts.isEmpty());
}

TEST(CompanionLauncher, RealProcessReceivesExactArguments)
{
    const QStringList arguments{"--show-feedback", "two words", "$HOME", "*", "\"q\""};
    for (const QString location : {"a/b/Korvanta.app", "a/b/Korvanta.app/AppRun"}) {
        LauncherUnderTest t;
        const QByteArray out = t.root.filePath("args.out").toUtf8();
        t.write(location, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + out + ".tmp\"\nmv \"" + out +
                              ".tmp\" \"" + out + "\"\n");
        // The real starter; everything else stays inside the fake tree.
        LauncherEnvironment environment = CompanionLauncher::forThisProcess();
        environment.bundleDirectory = t.bundle;
        environment.xdgDataHome = t.root.filePath("home");
        environment.xdgDataDirs = {};
        environment.log = [&t](const QString& line) { t.logLines.append(line); };
        environment.beep = [&t] { ++t.beeps; };
        CompanionLauncher(environment).openCompanionApp(arguments);

        QElapsedTimer clock;
        clock.start();
        while (!QFile::exists(out) && clock.elapsed() < 5000)
            QThread::msleep(20);
        QFile file(out);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << location.toStdString();
        EXPECT_EQ(QString::fromUtf8(file.readAll()), arguments.join('\n') + '\n');
        EXPECT_TRUE(t.logLines.isEmpty() && t.beeps == 0);
    }
}
