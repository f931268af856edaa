// The controller's logic that needs no widgets: the low-disk rule and the day it was last
// shown, and telling clicks on the tray icon apart.

#include "TestSupport.h"
#include "menubar/DayRecordStore.h"
#include "menubar/LowDiskSpaceRule.h"

#include <QRegularExpression>
#include <QSize>
#include <QSettings>
#include <sys/stat.h>

namespace {

using kmb::DayRecordStore;

TEST(LowDiskSpace, Threshold)
{
    constexpr std::int64_t terabyte = 1'000'000'000'000;
    // A full disk is what the warning is for; before any sample the zeros are placeholders.
    const struct {
        bool sampled;
        std::int64_t available, total;
        bool low;
    } cases[] = {{true, 49'999'999'999, terabyte, true},
                 {true, 50'000'000'000, terabyte, false},
                 {true, 0, terabyte, true},
                 {false, 0, 0, false},
                 {false, 1'000, terabyte, false},
                 {true, 1'000, 0, false},
                 {true, -1, terabyte, false},
                 {true, INT64_MAX, INT64_MAX, false}};
    for (const auto& c : cases)
        EXPECT_EQ(kmb::isLowDiskSpace(c.sampled, c.available, c.total), c.low)
            << c.sampled << " " << c.available << " of " << c.total;
}

TEST(LowDiskSpace, DayFollowsTheTimeZone)
{
    const QByteArray saved = qgetenv("TZ");
    const bool had = qEnvironmentVariableIsSet("TZ");
    // UTC-14 and UTC+12 are 26 hours apart: always on different days.
    qputenv("TZ", "XXX-14");
    const QString east = kmb::currentDayString();
    qputenv("TZ", "YYY+12");
    const QString west = kmb::currentDayString();
    had ? qputenv("TZ", saved) : qunsetenv("TZ");
    EXPECT_TRUE(QRegularExpression("^[0-9]{4}-[0-9]{2}-[0-9]{2}$").match(east).hasMatch())
        << east.toStdString();
    EXPECT_LT(west, east);
}

const QString day = QStringLiteral("2026-12-05");
const QByteArray onlyTheDay = "[General]\nlowDiskSpacePrompt.lastShownDay=2026-12-05\n";

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

TEST(DayRecord, RoundTripKeepsOtherSettings)
{
    const kmb::test::FakeTree dir;
    const QString path = dir.path("config/Korvanta/KorvantaMenuBar.conf");
    EXPECT_FALSE(DayRecordStore(path).lastShownDay().has_value());
    EXPECT_TRUE(DayRecordStore(path).recordShownDay(day));
    EXPECT_EQ(contents(path), onlyTheDay);
    EXPECT_EQ(DayRecordStore(path).lastShownDay(), day);

    dir.write("config/Korvanta/KorvantaMenuBar.conf",
              "; kept\n[General]\nlowDiskSpacePrompt.lastShownDay=2000-01-01\nother=kept\n\n"
              "[Window]\nsize=@Size(10 20)\n");
    DayRecordStore store(path);
    EXPECT_EQ(store.lastShownDay(), "2000-01-01");
    EXPECT_TRUE(store.recordShownDay(day));
    QSettings settings(path, QSettings::IniFormat);
    EXPECT_EQ(settings.value("lowDiskSpacePrompt.lastShownDay").toString(), day);
    EXPECT_EQ(settings.value("other").toString(), "kept");
    EXPECT_EQ(settings.value("Window/size").toSize(), QSize(10, 20));
    dir.write("config/Korvanta/KorvantaMenuBar.conf",
              "[General]\nlowDiskSpacePrompt.lastShownDay=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\n");
    EXPECT_FALSE(DayRecordStore(path).lastShownDay().has_value()); // not a string
}

// A file of ours that is no settings file holds no day, and is replaced, atomically, by one
// that holds just the day (QSettings alone would keep its garbage as keys and groups).
TEST(DayRecord, CorruptFileIsReplaced)
{
    QByteArray random(4096, '\0');
    for (int i = 0; i < random.size(); ++i)
        random[i] = char((i * 7919) ^ (i >> 3));
    for (const QByteArray& corrupt :
         {random, QByteArray("[General]\nnot a setting\n\x01\n[Unclosed\n=no key\n"),
          QByteArray("[General]\nlowDiskSpacePrompt.lastShownDay=2026-12-05\0\0", 54),
          QByteArray("[General]\nlowDiskSpacePrompt.lastShownDay=\xc3\x28\n"),
          QByteArray("garbage\nlowDiskSpacePrompt.lastShownDay=2026-12-05\n"),
          QByteArray("[General]\nkey=bell\x07\n"), QByteArray("[a]b]\n"), QByteArray("   =value\n"),
          QByteArray("[General]\nkey=a\rb\n")}) {
        const kmb::test::FakeTree dir;
        dir.write("KorvantaMenuBar.conf", corrupt);
        DayRecordStore store(dir.path("KorvantaMenuBar.conf"));
        EXPECT_FALSE(store.lastShownDay().has_value()) << corrupt.left(60).toStdString();
        EXPECT_TRUE(store.recordShownDay(day));
        EXPECT_EQ(contents(dir.path("KorvantaMenuBar.conf")), onlyTheDay);
        EXPECT_EQ(
            QDir(dir.root()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList{"KorvantaMenuBar.conf"}); // no temporary or lock file left
    }
    EXPECT_TRUE(DayRecordStore::looksLikeSettings("; c\n# c\n\n[A]\r\nk = v\r\n  [B]  \nempty=\n"
                                                  "key=\xe6\x97\xa5\tand a tab\n"));
}

// What is not a small regular file is left exactly as it is, and so is a file we may not
// write; the day is then kept in memory, so the prompt still comes once a day.
TEST(DayRecord, UnusableFilesAreLeftAlone)
{
    const kmb::test::FakeTree dir;
    QByteArray big(DayRecordStore::maxSettingsBytes + 1, 'k');
    big.prepend("[General]\nk=");
    dir.write("oversized.conf", big);
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.path("fifo.conf")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link("/dev/zero", dir.path("zero.conf")));
    ASSERT_TRUE(QFile::link(dir.path("loop.conf"), dir.path("loop.conf")));
    ASSERT_TRUE(QDir().mkpath(dir.path("directory.conf/inside")));
    for (const char* name :
         {"oversized.conf", "fifo.conf", "zero.conf", "loop.conf", "directory.conf"}) {
        const QByteArray path = QFile::encodeName(dir.path(name));
        struct stat before {
        }, after{};
        ASSERT_EQ(::lstat(path.constData(), &before), 0);
        DayRecordStore store(dir.path(name));
        EXPECT_FALSE(store.lastShownDay().has_value()) << name;
        EXPECT_FALSE(store.recordShownDay(day)) << name;
        EXPECT_EQ(store.lastShownDay(), day) << name;
        ASSERT_EQ(::lstat(path.constData(), &after), 0);
        EXPECT_TRUE(after.st_ino == before.st_ino && after.st_mode == before.st_mode &&
                    after.st_size == before.st_size)
            << name;
    }
    EXPECT_EQ(contents(dir.path("oversized.conf")), big);

    dir.write("readonly/KorvantaMenuBar.conf",
              "[General]\nlowDiskSpacePrompt.lastShownDay=2000-01-01\n");
    const QString readOnly = dir.path("readonly/KorvantaMenuBar.conf");
    kmb::test::openPathBelow(dir.root(), readOnly);
    ASSERT_EQ(::chmod(QFile::encodeName(readOnly).constData(), 0444), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path("readonly")).constData(), 0555), 0);
    EXPECT_EQ(kmb::test::exitCodeAsNobody([&] {
                  DayRecordStore store(readOnly);
                  if (store.lastShownDay() != "2000-01-01")
                      return 1;
                  if (store.recordShownDay(day))
                      return 2;
                  return store.lastShownDay() == day ? 0 : 3;
              }),
              0);
    EXPECT_EQ(contents(readOnly), "[General]\nlowDiskSpacePrompt.lastShownDay=2000-01-01\n");
    ::chmod(QFile::encodeName(dir.path("readonly")).constData(), 0755);
}

} // namespace
