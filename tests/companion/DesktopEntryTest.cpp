// Korvanta's desktop file: the first [Desktop Entry] group, its Exec line split into words
// without a shell, the field codes expanded.

#include "companion/DesktopEntry.h"

#include <gtest/gtest.h>

using namespace kmb;
using Kind = DesktopLaunchPlan::Kind;

static DesktopLaunchPlan plan(const QByteArray& lines)
{
    return planDesktopLaunch("[Desktop Entry]\n" + lines, "/apps/k.desktop", {"--a"});
}

// The lines as written in the file, then the program and arguments they start.
TEST(DesktopEntry, ExecLines)
{
    const std::pair<const char*, QStringList> launches[] = {
        {"Exec=run -a  b\t c", {"run", "-a", "b", "c"}},
        {R"(Exec="/opt/My App/run" "two words")", {"/opt/My App/run", "two words"}},
        {R"(Exec=run "say \\"hi\\"" "\\$HOME" "\\`x\\`" "\\\\" "\$x")",
         {"run", R"(say "hi")", "$HOME", "`x`", "\\", "$x"}},
        {R"(Exec=run a\sb a\tb a\nb a\rb a\\b a\qb)",
         {"run", "a", "b", "a", "b", "a", "b", "a\rb", "a\\b", "a\\qb"}},
        {R"(Exec=run pre"fix x"post "" '$HOME' *)", {"run", "prefix xpost", "", "'$HOME'", "*"}},
        {"Exec=run 100%% \"50%\" %%", {"run", "100%", "50%", "%"}},
        {"Exec=run %i\nIcon=korvanta", {"run", "--icon", "korvanta"}},
        {"Exec=run %i x", {"run", "x"}},
        {"Exec=run --title=%c\nName=Korvanta \"Cleaner\"", {"run", "--title=Korvanta \"Cleaner\""}},
        {"Exec=run %k", {"run", "/apps/k.desktop"}},
        {"Exec=run %f %F --x %u %U --file=%f %d %D %n %N %v %m", {"run", "--x", "--file="}},
        {"Exec = run %c\nExec=second\nName[de] = Reiniger\nName=K", {"run", "K"}}};
    for (const auto& [lines, command] : launches) {
        const DesktopLaunchPlan launch = plan(lines);
        EXPECT_EQ(launch.kind, Kind::Launch) << lines << launch.error.toStdString();
        EXPECT_EQ(QStringList(launch.command.program) + launch.command.arguments,
                  command + QStringList{"--a"})
            << lines;
    }
    const QByteArray huge(1 << 20, 'a');
    EXPECT_EQ(plan("Exec=run " + huge + " \"" + huge + "\"").command.arguments,
              QStringList({huge, huge, "--a"}));
}

// What no launch comes of, and why: the first [Desktop Entry] group and in it the first of
// each unlocalised key decide.
TEST(DesktopEntry, FileStructure)
{
    const DesktopLaunchPlan launch = planDesktopLaunch(
        "# c\r\n[Desktop Entry]\r\nExec=run\r\nPath=/tmp\r\nHidden=false\r\nPath=/var\n[Desktop "
        "Action a]\nTryExec=evil\n[Desktop Entry]\nTryExec=evil\nHidden=true\n",
        "/k", {});
    EXPECT_EQ(launch.kind, Kind::Launch);
    EXPECT_EQ(launch.tryExec, std::nullopt);
    EXPECT_EQ(launch.workingDirectory, "/tmp");
    const DesktopLaunchPlan empty = plan("Exec=run\nTryExec=\nPath=");
    EXPECT_TRUE(!empty.tryExec && !empty.workingDirectory);
    EXPECT_EQ(plan("Hidden=true\nExec=\"").kind, Kind::Hidden);
    // A failing TryExec means not installed even where Exec is broken.
    EXPECT_EQ(plan("TryExec=/x\nExec=\"").tryExec, "/x");
    for (const QByteArray& bytes :
         QList<QByteArray>{"Exec=run %z", "Exec=run 50%", "Exec=run x%i", "Exec=run %ix",
                           "Exec=run \"abc", "Exec=run \"abc\\\"", "Exec=", "Exec=  %f ",
                           "Name=no exec", "Exec=run \xff\xfe", QByteArray("Exec=run\0x", 10)}) {
        const DesktopLaunchPlan refused = plan(bytes);
        EXPECT_TRUE(refused.kind == Kind::Invalid && !refused.error.isEmpty()) << bytes.data();
    }
    for (const QByteArray& bytes : {QByteArray("[Other]\nExec=run\n"), QByteArray()})
        EXPECT_FALSE(planDesktopLaunch(bytes, "/k", {}).error.isEmpty()) << bytes.data();
}
