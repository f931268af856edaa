// Where Korvanta is looked for: path arithmetic only, nothing touches the disk.

#include "companion/CompanionLocations.h"

#include <gtest/gtest.h>

using namespace kmb;

TEST(CompanionLocations, BundleCandidatesInOrder)
{
    const QStringList deep{"/usr/lib/kmb/bin/MacOS/Korvanta.app", "/usr/lib/kmb/Korvanta.app",
                           "/usr/lib/kmb/Korvanta.app", "/usr/lib/Korvanta.app",
                           "/usr/Korvanta.app"};
    EXPECT_EQ(companionCandidatePaths("/usr/lib/kmb/bin"), deep);
    EXPECT_EQ(companionCandidatePaths("/usr//lib/./x/../kmb/bin/"), deep);
    EXPECT_EQ(companionCandidatePaths("/opt"), // ".." stops at the root
              QStringList({"/opt/MacOS/Korvanta.app", "/Korvanta.app", "/Korvanta.app",
                           "/Korvanta.app", "/Korvanta.app"}));
    EXPECT_EQ(companionCandidatePaths("relative/bin") + companionCandidatePaths(""), QStringList());
}

// Unset, empty and relative values fall back; relative list entries (the current directory,
// on PATH) are dropped.
TEST(CompanionLocations, DataDirectoriesAndSearchPath)
{
    EXPECT_EQ(resolveXdgDataHome("rel/dir", "/home/u"), "/home/u/.local/share");
    EXPECT_EQ(resolveXdgDataHome("", "/home/u/"), "/home/u/.local/share");
    EXPECT_EQ(resolveXdgDataHome("/xdg", "/home/u") + resolveXdgDataHome("", "home/u"), "/xdg");
    EXPECT_EQ(resolveXdgDataDirs(""), QStringList({"/usr/local/share", "/usr/share"}));
    EXPECT_EQ(resolveXdgDataDirs("/a:rel::/b/"), QStringList({"/a", "/b/"}));
    EXPECT_EQ(desktopFileCandidatePaths("/h", {"/b/", "rel"}) +
                  desktopFileCandidatePaths("", {"/c"}),
              QStringList({"/h/applications/com.korvanta.Korvanta.desktop",
                           "/b/applications/com.korvanta.Korvanta.desktop",
                           "/c/applications/com.korvanta.Korvanta.desktop"}));
    EXPECT_EQ(resolveExecutableSearchPath(std::nullopt), QStringList({"/bin", "/usr/bin"}));
    EXPECT_EQ(resolveExecutableSearchPath(QString(":/usr/bin:.:bin:/sbin")),
              QStringList({"/usr/bin", "/sbin"}));
}
