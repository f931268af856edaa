#include "menubar/DayRecordStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSettings>
#include <QSize>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using kmb::DayRecordStore;

const QString day = QStringLiteral("2026-12-05");
const QByteArray onlyTheDay = "[General]\nlowDiskSpacePrompt.lastShownDay=2026-12-05\n";

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

TEST(DayRecordStoreRecovery, RecognisesSettingsText)
{
    const struct {
        QByteArray bytes;
        bool settings;
    } cases[] = {
        {"", true},
        {"[General]\nlowDiskSpacePrompt.lastShownDay=2026-12-05\n", true},
        {"; comment\n# another\n\n[A]\r\nk = v\r\n  [B]  \nempty=\n", true},
        {"[General]\nlowDiskSpacePrompt.lastShownDay=@Variant(\\0\\0\\0\\x2)\n", true},
        {"[General]\nkey=\xe6\x97\xa5\xe6\x9c\x9f\tand a tab\n", true},
        {"[General]\nthis line is not a setting\n", false},
        {"[Unclosed\nkey=value\n", false},
        {"[]\n", false},
        {"[a]b]\n", false},
        {"=value without a key\n", false},
        {"   =value\n", false},
        {QByteArray("[General]\nkey=va\0lue\n", 21), false},
        {"[General]\nkey=\xff\xfe\n", false},
        {"[General]\nkey=bell\x07\n", false},
        {"[General]\nkey=a\rb\n", false},
        {"[General]\nkey=del\x7f\n", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DayRecordStore::looksLikeSettings(c.bytes), c.settings) << c.bytes.toStdString();
}

// A settings file of ours that does not read as settings is replaced, atomically, by one
// that holds just the day; QSettings alone would keep its garbage as keys and groups.
TEST(DayRecordStoreRecovery, ReplacesACorruptFileWithOneThatHoldsJustTheDay)
{
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"random bytes", randomBytes(4096, 5)},
        {"garbage lines", "[General]\nthis is not a setting\n\x01\x02\n[Unclosed\n"
                          "lowDiskSpacePrompt.lastShownDay=2000-01-01\n=no key\n"},
        {"NUL bytes", QByteArray("[General]\nlowDiskSpacePrompt.lastShownDay=2026-12-05\0\0", 54)},
        {"invalid UTF-8", "[General]\nlowDiskSpacePrompt.lastShownDay=\xc3\x28\n"},
        {"today's day beside garbage", "garbage\nlowDiskSpacePrompt.lastShownDay=2026-12-05\n"},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("KorvantaMenuBar.conf"));
        writeAll(path, c.bytes);
        DayRecordStore store(path);
        // A corrupt file holds no day, so the prompt is due.
        EXPECT_FALSE(store.lastShownDay().has_value()) << c.name;
        EXPECT_TRUE(store.recordShownDay(day)) << c.name;
        EXPECT_EQ(readAll(path), onlyTheDay) << c.name;
        EXPECT_EQ(DayRecordStore(path).lastShownDay(), std::optional<QString>(day)) << c.name;
        // Nothing else was left in the directory (no temporary or lock files).
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                             QDir::Hidden | QDir::System),
                  QStringList{QStringLiteral("KorvantaMenuBar.conf")})
            << c.name;
    }
}

TEST(DayRecordStoreRecovery, AValidFileKeepsItsOtherSettings)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("KorvantaMenuBar.conf"));
    writeAll(path, "; kept comment\n[General]\nlowDiskSpacePrompt.lastShownDay=2000-01-01\n"
                   "other=kept\n\n[Window]\nsize=@Size(10 20)\n");
    DayRecordStore store(path);
    EXPECT_EQ(store.lastShownDay(), std::optional<QString>(QStringLiteral("2000-01-01")));
    EXPECT_TRUE(store.recordShownDay(day));
    QSettings settings(path, QSettings::IniFormat);
    EXPECT_EQ(settings.value(QStringLiteral("lowDiskSpacePrompt.lastShownDay")).toString(), day);
    EXPECT_EQ(settings.value(QStringLiteral("other")).toString(), QStringLiteral("kept"));
    EXPECT_EQ(settings.value(QStringLiteral("Window/size")).toSize(), QSize(10, 20));
}

TEST(DayRecordStoreRecovery, CreatesAMissingFileAndItsDirectory)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config/Korvanta/KorvantaMenuBar.conf"));
    DayRecordStore store(path);
    EXPECT_FALSE(store.lastShownDay().has_value());
    EXPECT_TRUE(store.recordShownDay(day));
    EXPECT_EQ(readAll(path), onlyTheDay);
}

TEST(DayRecordStoreRecovery, AnUnusualDayIsQuotedAsQSettingsReadsIt)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("KorvantaMenuBar.conf"));
    writeAll(path, randomBytes(100, 9));
    const QString unusual = QStringLiteral("2026-12-05, \"noon\"; =");
    EXPECT_TRUE(DayRecordStore(path).recordShownDay(unusual));
    EXPECT_TRUE(DayRecordStore::looksLikeSettings(readAll(path)));
    EXPECT_EQ(DayRecordStore(path).lastShownDay(), std::optional<QString>(unusual));
}

// Whatever stands in the file's place and is not a small regular file is left exactly as
// it is, and the day is kept in memory. (An unwritable file needs an unprivileged user; the
// end-to-end suite checks that one.)
TEST(DayRecordStoreRecovery, LeavesWhatIsNotASmallRegularFileAlone)
{
    QTemporaryDir dir;
    const QString oversized = dir.filePath(QStringLiteral("oversized.conf"));
    const QByteArray big = randomBytes(DayRecordStore::maxSettingsBytes + 1, 3);
    writeAll(oversized, big);
    const QString fifo = dir.filePath(QStringLiteral("fifo.conf"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString deviceLink = dir.filePath(QStringLiteral("zero.conf"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), deviceLink));
    const QString loop = dir.filePath(QStringLiteral("loop.conf"));
    ASSERT_TRUE(QFile::link(loop, loop));
    const QString directory = dir.filePath(QStringLiteral("directory.conf"));
    ASSERT_TRUE(QDir().mkpath(directory + QStringLiteral("/inside")));

    for (const QString& path : {oversized, fifo, deviceLink, loop, directory}) {
        struct stat before {};
        ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &before), 0);
        DayRecordStore store(path);
        EXPECT_FALSE(store.lastShownDay().has_value()) << path.toStdString();
        EXPECT_FALSE(store.recordShownDay(day)) << path.toStdString();
        EXPECT_EQ(store.lastShownDay(), std::optional<QString>(day)) << path.toStdString();
        struct stat after {};
        ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino) << path.toStdString();
        EXPECT_EQ(after.st_mode, before.st_mode) << path.toStdString();
    }
    EXPECT_EQ(readAll(oversized), big);
    EXPECT_EQ(QDir(directory).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("inside")});
}

} // namespace
