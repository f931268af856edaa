// The bounded reader (hostile paths: the history reader's table) and the kept-open files.

#include "status/BoundedFile.h"
#include "TestSupport.h"

#include <cstring>

namespace {

using kmb::test::openDescriptors;

// What the launcher logs when a desktop file cannot be read (its own table has the size bound,
// both sides, and a FIFO); the bound noticed while reading.
TEST(BoundedFile, RefusalsSayWhy)
{
    const kmb::test::FakeTree tree;
    const struct {
        QString path;
        qint64 maxBytes;
        std::optional<QByteArray> bytes;
        int errorNumber;
        QString reason;
    } reads[] = {
        {tree.path("missing"), 10, std::nullopt, ENOENT, std::strerror(ENOENT)},
        // Reports a size of 0 and has more: seen as it is read, not from fstat.
        {"/proc/self/status", 16, std::nullopt, 0, "larger than 16 bytes"},
    };
    for (const auto& read : reads) {
        const kmb::FileBytes got = kmb::readRegularFile(read.path, read.maxBytes);
        EXPECT_EQ(got.bytes, read.bytes) << read.path.toStdString();
        EXPECT_EQ(std::pair(got.error.errorNumber, got.error.reason),
                  std::pair(read.errorNumber, read.reason))
            << read.path.toStdString();
    }
}

TEST(KeptOpenFile, HoldsOneDescriptorAndFollowsWhatThePathNames)
{
    const kmb::test::FakeTree tree;
    const QByteArray native = QFile::encodeName(tree.path("attr"));
    tree.write("attr", "first value\n");
    const qsizetype before = openDescriptors();
    kmb::KeptOpenFile file(tree.path("attr"));
    // Open while there is a file to read, never more than one descriptor.
    const auto expectRead = [&](const std::optional<QByteArray>& expected, const char* what) {
        EXPECT_EQ(file.read(4096), expected) << what;
        EXPECT_EQ(openDescriptors(), before + (expected ? 1 : 0)) << what;
    };
    expectRead("first value\n", "first read");
    expectRead("first value\n", "read again");
    tree.write("attr", "2\n");
    expectRead("2\n", "rewritten in place, shorter: read from the start");
    tree.write("attr", "");
    expectRead("", "emptied");
    tree.write("staged", "renamed\n");
    ASSERT_EQ(::rename(QFile::encodeName(tree.path("staged")), native), 0);
    expectRead("renamed\n", "replaced by rename");
    ASSERT_EQ(::unlink(native), 0);
    expectRead(std::nullopt, "removed");
    tree.write("attr", "back\n");
    expectRead("back\n", "back");
}

} // namespace
