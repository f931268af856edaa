// The bounded file reader that every reader of the program goes through.

#include "FakeSysTree.h"
#include "status/BoundedFile.h"

#include <QElapsedTimer>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct WholeFileCase {
    const char* what;
    QString path; // relative to the tree unless absolute
    qint64 maxBytes;
    std::optional<QByteArray> bytes;
    int errorNumber;
    QString reason;
};

TEST(BoundedFile, WholeFileReadsRefuseWhatIsNotASmallRegularFile)
{
    const kmb::test::FakeSysTree tree;
    tree.write("ten", "0123456789");
    tree.write("empty", "");
    tree.write("dir/x", "1");
    ASSERT_EQ(::mkfifo(QFile::encodeName(tree.root() + "/fifo").constData(), 0600), 0);
    ASSERT_EQ(::symlink("loop", QFile::encodeName(tree.root() + "/loop").constData()), 0);
    const QString noEntry = QString::fromLocal8Bit(std::strerror(ENOENT));
    const QString notRegular = QStringLiteral("not a regular file");
    const WholeFileCase cases[] = {
        {"fits", "ten", 10, QByteArray("0123456789"), 0, {}},
        {"empty", "empty", 10, QByteArray(""), 0, {}},
        {"one byte too many", "ten", 9, std::nullopt, 0, "larger than 9 bytes"},
        {"missing", "missing", 10, std::nullopt, ENOENT, noEntry},
        {"directory", "dir", 10, std::nullopt, 0, notRegular},
        {"FIFO without a writer", "fifo", 10, std::nullopt, 0, notRegular},
        {"symlink loop", "loop", 10, std::nullopt, ELOOP,
         QString::fromLocal8Bit(std::strerror(ELOOP))},
        {"endless device", "/dev/zero", 10, std::nullopt, 0, notRegular},
        // Reports a size of 0 and has more: seen as it is read, not from fstat.
        {"grows past the bound while read", "/proc/self/status", 16, std::nullopt, 0,
         "larger than 16 bytes"},
    };
    for (const WholeFileCase& c : cases) {
        const QString path = c.path.startsWith(u'/') ? c.path : tree.root() + u'/' + c.path;
        QElapsedTimer clock;
        clock.start();
        const kmb::FileBytes read = kmb::readRegularFile(path, c.maxBytes);
        EXPECT_LT(clock.elapsed(), 1000) << c.what;
        EXPECT_EQ(read.bytes, c.bytes) << c.what;
        if (!c.bytes) {
            EXPECT_EQ(read.error.errorNumber, c.errorNumber) << c.what;
            EXPECT_EQ(read.error.reason, c.reason) << c.what;
        }
    }
}

TEST(BoundedFile, IdentityAfterTheReadTellsARewriteFromAnUnchangedFile)
{
    const kmb::test::FakeSysTree tree;
    tree.write("f", "first");
    kmb::BoundedFile file(tree.root() + "/f");
    ASSERT_TRUE(file.isOpen());
    const kmb::FileIdentity opened = kmb::FileIdentity::of(file.status());
    EXPECT_EQ(file.readPrefix(3).bytes, QByteArray("fir"));
    EXPECT_EQ(file.readAll(100).bytes, QByteArray("st")) << "the rest, from where it stopped";
    EXPECT_EQ(file.currentIdentity(), opened);
    tree.write("f", "second, longer");
    EXPECT_NE(file.currentIdentity(), opened);
}

} // namespace
