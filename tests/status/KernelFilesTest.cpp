// Attribute files kept open between passes (their parsing is tested through the readers).

#include "status/KernelFiles.h"
#include "TestSupport.h"

TEST(KernelFiles, SweepClosesTheFilesNotReadSinceTheLastSweep)
{
    const kmb::test::FakeTree tree;
    tree.write("capacity", " 57\n");
    tree.write("status", "Full\nmore");
    const qsizetype before = kmb::test::openDescriptors();
    kmb::kernelfiles::AttributeFiles files;
    EXPECT_EQ(files.readInteger(tree.path("capacity")), 57);
    EXPECT_EQ(files.readText(tree.path("status")), QStringLiteral("Full"));
    for (const qsizetype open : {2, 1, 0}) {
        files.sweep();
        EXPECT_EQ(kmb::test::openDescriptors(), before + open);
        if (open == 2) { // read again: kept open through the next sweep
            ASSERT_EQ(files.readInteger(tree.path("capacity")), 57);
        }
    }
}
