#include "companion/CompanionLocations.h"
#include "companion/DesktopEntry.h"
#include "companion/ProgramFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace kmb;
using Kind = DesktopLaunchPlan::Kind;

TEST(CompanionLocations, FiveCandidatesForSeveralBundleDirectories)
{
    const struct {
        QString bundle;
        QStringList expected;
    } cases[] = {
        {"/opt/kmb/bin",
         {"/opt/kmb/bin/MacOS/Korvanta.app", "/opt/kmb/Korvanta.app", "/opt/kmb/Korvanta.app",
          "/opt/Korvanta.app", "/Korvanta.app"}},
        {"/opt",
         {"/opt/MacOS/Korvanta.app", "/Korvanta.app", "/Korvanta.app", "/Korvanta.app",
          "/Korvanta.app"}},
        {"/",
         {"/MacOS/Korvanta.app", "/Korvanta.app", "/Korvanta.app", "/Korvanta.app",
          "/Korvanta.app"}},
        {"relative/bin", {}},
        {"", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(companionCandidatePaths(c.bundle), c.expected) << c.bundle.toStdString();
}

TEST(CompanionLocations, XdgDirectoriesAndSearchPath)
{
    EXPECT_EQ(resolveXdgDataHome("", "/home/u"), "/home/u/.local/share");
    EXPECT_EQ(resolveXdgDataHome("rel/dir", "/home/u"), "/home/u/.local/share");
    EXPECT_EQ(resolveXdgDataHome("/xdg", "/home/u"), "/xdg");
    EXPECT_EQ(resolveXdgDataHome("", ""), "");
    EXPECT_EQ(resolveXdgDataDirs(""), QStringList({"/usr/local/share", "/usr/share"}));
    EXPECT_EQ(resolveXdgDataDirs("/a:rel::/b"), QStringList({"/a", "/b"}));
    EXPECT_EQ(desktopFileCandidatePaths("/h", {"/a", "/b/"}),
              QStringList({"/h/applications/com.korvanta.Korvanta.desktop",
                           "/a/applications/com.korvanta.Korvanta.desktop",
                           "/b/applications/com.korvanta.Korvanta.desktop"}));
    EXPECT_EQ(desktopFileCandidatePaths("", {"/a"}).size(), 1);
    EXPECT_EQ(resolveExecutableSearchPath(std::nullopt), QStringList({"/bin", "/usr/bin"}));
    EXPECT_EQ(resolveExecutableSearchPath(QString(":/usr/bin:.:bin")), QStringList({"/usr/bin"}));
}

TEST(ProgramFiles, OwnershipRule)
{
    const struct {
        uid_t owner;
        mode_t mode;
        bool refused;
    } cases[] = {
        {1000, 0755, false}, {0, 0755, false}, {1000, 0775, true},
        {1000, 0757, true},  {0, 0777, true},  {1001, 0755, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ownershipRefusal("/p", c.owner, c.mode, 1000).has_value(), c.refused)
            << c.owner << " " << std::oct << c.mode;
}

namespace {

DesktopLaunchPlan planFor(const QByteArray& body, const QStringList& arguments = {"--arg"})
{
    return planDesktopLaunch("[Desktop Entry]\n" + body, "/apps/k.desktop", arguments);
}

} // namespace

TEST(DesktopEntry, ExecSplittingAndFieldCodes)
{
    // Exec values as written in the file: string escapes first, then the quoting rules.
    const struct {
        QByteArray lines;
        QStringList expected; // program then arguments (caller's "--arg" last); empty: invalid
    } cases[] = {
        {"Exec=run -a  b\t c", {"run", "-a", "b", "c", "--arg"}},
        {R"(Exec="/opt/My App/run" "two words")", {"/opt/My App/run", "two words", "--arg"}},
        {R"(Exec=run "say \\"hi\\"" "\\$HOME" "\\`x\\`" "\\\\")",
         {"run", R"(say "hi")", "$HOME", "`x`", "\\", "--arg"}},
        {R"(Exec=run a\sb pre"fix x"post "" '$HOME' *)",
         {"run", "a", "b", "prefix xpost", "", "'$HOME'", "*", "--arg"}},
        {"Exec=run 100%% \"50%\" %%", {"run", "100%", "50%", "%", "--arg"}},
        {"Exec=run %i\nIcon=korvanta", {"run", "--icon", "korvanta", "--arg"}},
        {"Exec=run %i x", {"run", "x", "--arg"}},
        {"Exec=run --title=%c\nName=Korvanta \"Cleaner\"",
         {"run", "--title=Korvanta \"Cleaner\"", "--arg"}},
        {"Exec=run %k", {"run", "/apps/k.desktop", "--arg"}},
        {"Exec=run %f %F --x %u %U --file=%f", {"run", "--x", "--file=", "--arg"}},
        {"Exec=run %d %D %n %N %v %m", {"run", "--arg"}},
        {"Exec=run %z", {}},
        {"Exec=run 50%", {}},
        {"Exec=run x%i", {}},
        {"Exec=run %ix", {}},
        {"Exec=run \"abc", {}},
        {"Exec=run \"abc\\\"", {}},
        {"Exec=", {}},
        {"Exec=  %f ", {}},
        {"Name=no exec", {}},
    };
    for (const auto& c : cases) {
        const DesktopLaunchPlan plan = planFor(c.lines);
        if (c.expected.isEmpty()) {
            EXPECT_EQ(plan.kind, Kind::Invalid) << c.lines.toStdString();
            EXPECT_FALSE(plan.error.isEmpty());
            continue;
        }
        ASSERT_EQ(plan.kind, Kind::Launch) << c.lines.toStdString() << plan.error.toStdString();
        EXPECT_EQ(QStringList(plan.command.program) + plan.command.arguments, c.expected)
            << c.lines.toStdString();
    }
}

TEST(DesktopEntry, FileStructure)
{
    // Only the first [Desktop Entry] group counts, and only its first, unlocalised keys.
    const DesktopLaunchPlan plan = planDesktopLaunch(
        "# comment\r\n[Desktop Entry]\r\n  Name[de] = Reiniger\r\nExec = run %c\r\n"
        "Exec=second\r\nName=K\r\nTryExec=korvanta\r\nPath=/tmp\r\nHidden=false\r\n"
        "[Desktop Action clean]\nExec=evil\n[Desktop Entry]\nExec=evil\n",
        "/k.desktop", {});
    ASSERT_EQ(plan.kind, Kind::Launch) << plan.error.toStdString();
    EXPECT_EQ(plan.command.program, "run");
    EXPECT_EQ(plan.command.arguments, QStringList{"K"});
    EXPECT_EQ(plan.tryExec, "korvanta");
    EXPECT_EQ(plan.workingDirectory, "/tmp");

    EXPECT_EQ(planFor("Hidden=true\nExec=run \"broken").kind, Kind::Hidden);
    EXPECT_EQ(planFor(QByteArray("Exec=run\0x", 10)).kind, Kind::Invalid);
    EXPECT_EQ(planFor("Exec=run \xff\xfe").kind, Kind::Invalid);
    EXPECT_EQ(planDesktopLaunch("[Other]\nExec=run\n", "/k", {}).kind, Kind::Invalid);
    EXPECT_EQ(planDesktopLaunch("", "/k", {}).kind, Kind::Invalid);
    // A broken Exec still reports TryExec, which decides first.
    EXPECT_EQ(planFor("TryExec=/x\nExec=\"").tryExec, "/x");
}

TEST(DesktopEntry, MegabyteExecLine)
{
    const QByteArray huge(1 << 20, 'a');
    const DesktopLaunchPlan plan = planFor("Exec=run " + huge + " \"" + huge + "\"");
    ASSERT_EQ(plan.kind, Kind::Launch);
    ASSERT_EQ(plan.command.arguments.size(), 3);
    EXPECT_EQ(plan.command.arguments[0].size(), 1 << 20);
    EXPECT_EQ(plan.command.arguments[1].size(), 1 << 20);
    EXPECT_EQ(planFor("Exec=run \"" + huge).kind, Kind::Invalid);
    EXPECT_EQ(planFor("Exec=" + QByteArray(1 << 20, '%')).kind, Kind::Launch); // "%" * 2^19
}
