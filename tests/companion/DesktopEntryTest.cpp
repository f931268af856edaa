// Reading Korvanta's desktop file: the first [Desktop Entry] group, its Exec line split into
// words without a shell, the field codes expanded.

#include "companion/DesktopEntry.h"

#include <gtest/gtest.h>

namespace kmb {
namespace {

using Kind = DesktopLaunchPlan::Kind;

DesktopLaunchPlan plan(const QByteArray& lines, const QStringList& arguments = {})
{
    return planDesktopLaunch("[Desktop Entry]\n" + lines, "/apps/k.desktop", arguments);
}

// Each line as written in the file, then the program and arguments it starts.
TEST(DesktopEntry, ExecLines)
{
    const struct {
        const char* lines;
        QStringList command;
    } launches[] = {
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
        {"Exec=run %f %F --x %u %U --file=%f", {"run", "--x", "--file="}},
        {"Exec=run %d %D %n %N %v %m", {"run"}},
        {"Exec = run %c\nExec=second\nName[de] = Reiniger\nName=K", {"run", "K"}}};
    for (const auto& c : launches) {
        const DesktopLaunchPlan launch = plan(c.lines, {"--a"});
        ASSERT_EQ(launch.kind, Kind::Launch) << c.lines << launch.error.toStdString();
        EXPECT_EQ(QStringList(launch.command.program) + launch.command.arguments,
                  c.command + QStringList{"--a"})
            << c.lines;
    }
    for (const char* lines :
         {"Exec=run %z", "Exec=run 50%", "Exec=run x%i", "Exec=run %ix", "Exec=run \"abc",
          "Exec=run \"abc\\\"", "Exec=", "Exec=  %f ", "Name=no exec", "Exec=run \xff\xfe"}) {
        const DesktopLaunchPlan refused = plan(lines);
        EXPECT_EQ(refused.kind, Kind::Invalid) << lines;
        EXPECT_FALSE(refused.error.isEmpty()) << lines;
    }
    const QByteArray huge(1 << 20, 'a');
    EXPECT_EQ(plan("Exec=run " + huge + " \"" + huge + "\"").command.arguments,
              QStringList({huge, huge}));
}

// Only the first [Desktop Entry] group counts, and in it the first of each unlocalised key.
TEST(DesktopEntry, FileStructure)
{
    const DesktopLaunchPlan launch = planDesktopLaunch(
        "# comment\r\n[Desktop Entry]\r\nExec=run\r\nPath=/tmp\r\nHidden=false\r\nPath=/var\n"
        "[Desktop Action clean]\nTryExec=evil\n[Desktop Entry]\nTryExec=evil\nHidden=true\n",
        "/k", {});
    ASSERT_EQ(launch.kind, Kind::Launch) << launch.error.toStdString();
    EXPECT_EQ(launch.command.program, "run");
    EXPECT_EQ(launch.tryExec, std::nullopt);
    EXPECT_EQ(launch.workingDirectory, "/tmp");
    EXPECT_EQ(plan("Exec=run\nTryExec=\nPath=").workingDirectory, std::nullopt);
    EXPECT_EQ(plan("Exec=run\nTryExec=\nPath=").tryExec, std::nullopt);
    EXPECT_EQ(plan("Hidden=true\nExec=\"").kind, Kind::Hidden);
    // TryExec is there for a broken Exec line too: a missing program means not installed.
    EXPECT_EQ(plan("TryExec=/x\nExec=\"").tryExec, "/x");
    for (const QByteArray& bytes : {QByteArray("[Desktop Entry]\nExec=run\0x", 26),
                                    QByteArray("[Other]\nExec=run\n"), QByteArray()}) {
        const DesktopLaunchPlan refused = planDesktopLaunch(bytes, "/k", {});
        EXPECT_EQ(refused.kind, Kind::Invalid) << bytes.toStdString();
        EXPECT_FALSE(refused.error.isEmpty()) << bytes.toStdString();
    }
}

} // namespace
} // namespace kmb
