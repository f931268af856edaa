// Attribute files kept open between passes (their parsing is tested through the readers).

#include "status/KernelFiles.h"
#include "TestSupport.h"

namespace {

qsizetype openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size();
}

TEST(KernelFiles, SweepClosesTheFilesNotReadSinceTheLastSweep)
{
    const kmb::test::FakeTree tree;
    tree.writeDevice(QStringLiteral("BAT0"), {{"capacity", " 57\n"}, {"status", "Full\nmore"}});
    const qsizetype before = openDescriptors();
    kmb::kernelfiles::AttributeFiles files;
    EXPECT_EQ(files.readInteger(tree.root() + "/BAT0/capacity"), 57);
    EXPECT_EQ(files.readText(tree.root() + "/BAT0/status"), QStringLiteral("Full"));
    files.sweep();
    EXPECT_EQ(openDescriptors(), before + 2);
    EXPECT_EQ(files.readInteger(tree.root() + "/BAT0/capacity"), 57);
    files.sweep();
    EXPECT_EQ(openDescriptors(), before + 1);
    files.sweep();
    EXPECT_EQ(openDescriptors(), before);
}

} // namespace
