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
        {tree.path(QStringLiteral("missing")), 10, std::nullopt, ENOENT, std::strerror(ENOENT)},
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
    const QString path = tree.path(QStringLiteral("attr"));
    const QByteArray native = QFile::encodeName(path);
    tree.write(QStringLiteral("attr"), "first value\n");
    const qsizetype before = openDescriptors();
    kmb::KeptOpenFile file(path);
    const struct {
        const char* what;
        std::function<void()> change;
        std::optional<QByteArray> expected;
    } steps[] = {
        {"first read", nullptr, QByteArray("first value\n")},
        {"read again", nullptr, QByteArray("first value\n")},
        {"rewritten in place, shorter: read from the start",
         [&] { tree.write(QStringLiteral("attr"), "2\n"); }, QByteArray("2\n")},
        {"emptied", [&] { tree.write(QStringLiteral("attr"), ""); }, QByteArray("")},
        {"replaced by rename",
         [&] {
             tree.write(QStringLiteral("staged"), "renamed\n");
             ASSERT_EQ(::rename(QFile::encodeName(tree.path(QStringLiteral("staged"))), native), 0);
         },
         QByteArray("renamed\n")},
        {"removed", [&] { ASSERT_EQ(::unlink(native), 0); }, std::nullopt},
        {"back", [&] { tree.write(QStringLiteral("attr"), "back\n"); }, QByteArray("back\n")},
    };
    for (const auto& step : steps) {
        if (step.change)
            step.change();
        EXPECT_EQ(file.read(4096), step.expected) << step.what;
        // Open while there is a file to read, never more than one descriptor.
        EXPECT_EQ(openDescriptors(), before + (step.expected ? 1 : 0)) << step.what;
    }
}

} // namespace
