// The prompt's day in the settings file: the rest kept, a corrupt file replaced, odd files left.

#include "menubar/DayRecordStore.h"
#include "TestSupport.h"

#include <sys/stat.h>

using namespace kmb;

const QString day = QStringLiteral("2029-09-30");
const QByteArray onlyTheDay = "[General]\nlowDiskSpacePrompt.lastShownDay=2029-09-30\n";

// A settings file of `size` bytes that holds the day 2000-01-01.
static QByteArray settingsOfSize(qsizetype size)
{
    const QByteArray start = "[General]\nlowDiskSpacePrompt.lastShownDay=2000-01-01\nk=";
    return start + QByteArray(size - start.size(), 'k');
}

// The file before, the day read from it, the file after the day is recorded. A file of ours
// that is no settings file holds no day and is replaced by one that holds just the day.
TEST(DayRecordStore, ReadsAndRecordsTheDayKeepingTheRestOfTheFile)
{
    const QByteArray key = "lowDiskSpacePrompt.lastShownDay=";
    const QByteArray valid =
        "; c\n# c\n\n[A]\r\nk = v\r\n  [B]  \nempty=\n\t k=\xe6\x97\xa5\tand a tab\n";
    struct Case {
        std::optional<QByteArray> before; // nullopt: no file, nor its folders
        std::optional<QString> day;
        QByteArray after;
    };
    std::vector<Case> cases = {
        {std::nullopt, std::nullopt, onlyTheDay},
        {valid, std::nullopt, onlyTheDay + '\n' + valid},
        {"\n[General]\n lowDiskSpacePrompt.lastShownDay = 2000-01-01\r\nk=v\n\n[W]\ns=@Size(1 2)\n",
         "2000-01-01", "\n[General]\n" + key + "2029-09-30\nk=v\n\n[W]\ns=@Size(1 2)\n"},
        {"[W]\nx=1\n[General]", std::nullopt, "[W]\nx=1\n[General]\n" + key + "2029-09-30\n"},
        {"[W]\n" + key + "2000-01-01\n", std::nullopt,
         onlyTheDay + "\n[W]\n" + key + "2000-01-01\n"},
        {key + "2000-01-01\n[W]\n", "2000-01-01", key + "2029-09-30\n[W]\n"}, // before any group
        {"[General]\n" + key + "1999-01-01\n" + key + "\"2000-01-01\"", "2000-01-01",
         "[General]\n" + key + "1999-01-01\n" + key + "2029-09-30\n"},
        {"[General]\n" + key + "@Variant(\\0\\0)\n", std::nullopt, onlyTheDay},
        {settingsOfSize(65'536), "2000-01-01",
         settingsOfSize(65'536).replace("2000-01-01", "2029-09-30")}};
    for (const QByteArray& corrupt :
         QList<QByteArray>{"[General]\nnot a setting\n" + key + "2000-01-01\n", "[Unclosed\n",
                           "=v\n", "[a]b]\n", "[General]\n" + key + QByteArray("2000-01-01\0", 11),
                           key + "\xc3\x28\n", "k=bell\x07\n", "k=del\x7f\n", "k=a\rb\n"})
        cases.push_back({corrupt, std::nullopt, onlyTheDay});
    for (const Case& c : cases) {
        const test::FakeTree dir;
        const QString path = dir.path("config/KorvantaMenuBar.conf");
        if (c.before)
            dir.write("config/KorvantaMenuBar.conf", *c.before);
        const std::string what = c.before.value_or("no file").left(60).toStdString();
        EXPECT_EQ(DayRecordStore(path).lastShownDay(), c.day) << what;
        EXPECT_TRUE(DayRecordStore(path).recordShownDay(day)) << what;
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << what;
        EXPECT_EQ(file.readAll(), c.after) << what;
        EXPECT_EQ(DayRecordStore(path).lastShownDay(), day) << what;
        EXPECT_EQ(QDir(dir.path("config"))
                      .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                  QStringList{"KorvantaMenuBar.conf"}); // no temporary or lock file left
    }
}

// What is not a small regular file is left exactly as it is; the day is then kept in memory, so
// the prompt still comes once a day.
TEST(DayRecordStore, UnusableFilesAreLeftAlone)
{
    const test::FakeTree dir;
    dir.write("oversized.conf", settingsOfSize(65'537));
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.path("fifo.conf")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(dir.path("loop.conf"), dir.path("loop.conf")));
    const auto identity = [&](const char* name) {
        struct stat status {};
        ::lstat(QFile::encodeName(dir.path(name)).constData(), &status);
        return std::tuple(status.st_ino, status.st_mode, status.st_size);
    };
    for (const char* name : {"oversized.conf", "fifo.conf", "loop.conf"}) {
        const auto before = identity(name);
        DayRecordStore store(dir.path(name));
        EXPECT_EQ(store.lastShownDay(), std::nullopt) << name;
        EXPECT_FALSE(store.recordShownDay(day)) << name;
        EXPECT_EQ(store.lastShownDay(), day) << name;
        EXPECT_EQ(identity(name), before) << name;
    }
}
