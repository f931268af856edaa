// What Korvanta's history files read as: every case goes through the parser and, written to a
// real file, through CleanupHistoryReader (which reads "no total" as 0).

#include "TestSupport.h"
#include "status/CleanupHistoryReader.h"
#include "status/PropertyList.h"

#include <QLocale>
#include <bit>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

namespace {

using Total = std::optional<std::int64_t>;
const Total none;
constexpr std::int64_t int64Min = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();

Total parse(const QByteArray& bytes)
{
    return kmb::totalCleanedBytesFromPropertyList(bytes);
}

class History {
public:
    Total read(const QByteArray& bytes)
    {
        m_tree.write(QStringLiteral("Korvanta/CleanupHistory.plist"), bytes);
        const Total parsed = parse(bytes);
        EXPECT_EQ(m_reader.readTotalCleanedBytes(), parsed.value_or(0))
            << "the reader disagrees on " << bytes.left(100).toStdString();
        return parsed;
    }

private:
    kmb::test::FakeTree m_tree;
    kmb::CleanupHistoryReader m_reader{m_tree.root()};
};

QByteArray fixture(const QString& name)
{
    QFile file(QStringLiteral(KMB_FIXTURES_DIR "/history/") + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    return file.readAll();
}

// Written by make_fixtures.py with Python's plistlib, a writer independent of ours. A stem
// stands for its .xml and its .bplist file.
TEST(HistoryFiles, FixturesOfBothEncodings)
{
    const char* totals =
        "int_4096=4096 int_zero=0 int_negative_5=-5 int_min=-9223372036854775808 "
        "int_max=9223372036854775807 int_200_one_byte=200 int_40000_two_bytes=40000 "
        "int_3000000000_four_bytes=3000000000 real_2048_0=2048 "
        "real_negative_2048_0=-2048 real_negative_zero=0 "
        "real_min=-9223372036854775808 real_largest_below_2pow63=9223372036854774784 "
        "realistic_history=123456789 unicode_neighbour_key=77";
    // int_2pow63 is a 16-byte integer in binary.
    const char* noTotal = "int_2pow63 int_2pow64_minus_1 real_2048_5 real_2pow63 real_1e20 "
                          "real_infinity real_nan string_1024 date bool_true data array_value "
                          "dict_value missing_key top_level_array top_level_integer";
    std::vector<std::pair<QString, Total>> cases;
    for (const QByteArray& entry : QByteArray(totals).split(' '))
        cases.emplace_back(entry.split('=')[0], entry.split('=')[1].toLongLong());
    for (const QByteArray& stem : QByteArray(noTotal).split(' '))
        cases.emplace_back(stem, none);
    History history;
    for (const auto& [stem, expected] : cases) {
        for (const char* extension : {".xml", ".bplist"})
            EXPECT_EQ(history.read(fixture(stem + extension)), expected) << stem.toStdString();
    }
    for (const char* broken : {"truncated.xml", "truncated.bplist", "empty.plist", "garbage.plist"})
        EXPECT_EQ(history.read(fixture(QString::fromLatin1(broken))), none) << broken;
}

// Every proper prefix of a valid file is broken (XML up to "</plist>": only the trailing
// newline may go), and no changed byte may crash the parser (ASan builds see a stray read).
TEST(HistoryFiles, TruncatedAndCorruptedFiles)
{
    for (const char* name :
         {"realistic_history.xml", "realistic_history.bplist", "int_4096.bplist"}) {
        const QByteArray whole = fixture(QString::fromLatin1(name));
        const qsizetype complete =
            whole.startsWith("<?xml") ? whole.lastIndexOf("</plist>") + 8 : whole.size();
        for (qsizetype length = 0; length < complete; ++length)
            EXPECT_EQ(parse(whole.first(length)), none) << name << " cut to " << length;
        for (qsizetype i = 0; i < whole.size(); ++i) {
            for (const char value : {'\0', '\x01', '\x0f', '\x10', '\x1f', '<', '_', '\x7f', '\x80',
                                     '\xaf', '\xdf', '\xff'}) {
                QByteArray changed = whole;
                changed[i] = value;
                (void)parse(changed);
            }
        }
    }
}

QByteArray doc(const QByteArray& object)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD "
           "PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n" +
           object + "\n</plist>\n";
}

QByteArray xml(const QByteArray& entries)
{
    return doc("<dict>" + entries + "</dict>");
}

TEST(HistoryFiles, XmlNumbers)
{
    const auto integer = [](const QByteArray& text) {
        return xml("<key>totalCleanedBytes</key><integer>" + text + "</integer>");
    };
    const auto real = [](const QByteArray& text) {
        return xml("<key>totalCleanedBytes</key><real>" + text + "</real>");
    };
    History history;
    for (const QByteArray& text :
         QByteArray("4096 +4096 000000000000000000000000004096").split(' '))
        EXPECT_EQ(history.read(integer(text)), 4096) << text.toStdString();
    EXPECT_EQ(history.read(integer(" \n\t4096\r\n ")), 4096);
    EXPECT_EQ(history.read(integer("-0")), 0);
    EXPECT_EQ(history.read(integer("9223372036854775807")), int64Max);
    EXPECT_EQ(history.read(integer("-9223372036854775808")), int64Min);
    for (const QByteArray& text : QByteArray("9223372036854775808 -9223372036854775809 "
                                             "18446744073709551616 - +-1 0x10 4096.0 1e3 \xd9\xa4")
                                      .split(' '))
        EXPECT_EQ(history.read(integer(text)), none) << text.toStdString();
    EXPECT_EQ(history.read(integer("")), none);
    EXPECT_EQ(history.read(integer("1 000")), none);

    for (const QByteArray& text :
         QByteArray("2048.0 2048 2048. +2048.000 2.048E+3 .2048e4 204800e-2").split(' '))
        EXPECT_EQ(history.read(real(text)), 2048) << text.toStdString();
    EXPECT_EQ(history.read(real(" 2048.0\n")), 2048);
    EXPECT_EQ(history.read(real("-0.0")), 0);
    EXPECT_EQ(history.read(real("0e999999")), 0);
    EXPECT_EQ(history.read(real("-9.223372036854775808e18")), int64Min);
    EXPECT_EQ(history.read(real("9223372036854774784")), 9223372036854774784);
    // 9223372036854775807.0 is 2^63 as a double; -9223372036854777856 the next below -2^63.
    for (const QByteArray& text :
         QByteArray("9223372036854775807.0 -9223372036854777856 2048.5 0.1 1e-400 5e-324 1e400 "
                    "-Infinity inf NaN 2048,0 0x1p11 . e3 1e 1e+ 2048.0f")
             .split(' '))
        EXPECT_EQ(history.read(real(text)), none) << text.toStdString();
    EXPECT_EQ(history.read(real("")), none);
}

TEST(HistoryFiles, XmlDocuments)
{
    const QByteArray t = "<key>totalCleanedBytes</key><integer>7</integer>";
    // A bare object, a byte order mark, comments and processing instructions, character
    // references, CDATA, entities, the last of two keys, other values that are well-formed.
    const QByteArray seven[] = {
        doc("<dict>" + t + "</dict>"),
        "<plist><dict>" + t + "</dict></plist>",
        "<dict>" + t + "</dict>",
        "\xef\xbb\xbf<dict>" + t + "</dict>",
        "<!-- c --><?pi x?><dict><!-- c -->" + t + "<?pi?></dict><!-- after -->\n",
        xml("<key>total&#67;leanedBytes</key><integer>7</integer>"),
        xml("<key><![CDATA[totalCleanedBytes]]></key><integer>7</integer>"),
        xml("<key>a</key><string>x &amp; &lt;y&gt;</string>" + t),
        xml("<key>totalCleanedBytes</key><integer>1</integer>" + t),
        xml(t + "<key>big</key><integer>99999999999999999999999</integer>"),
        xml(t + "<key>all</key><array><true/><false></false><date>2024-05-17T09:30:00Z</date>"
                "<data>AAEC\n AwQ=</data><data></data><string/><dict/><array/><real>nan</real>"
                "</array>")};
    // No total where it belongs, and any malformed part anywhere; a DTD that declares
    // entities (they could make a few bytes into gigabytes).
    const QByteArray noTotal[] = {
        xml(t + "<key>totalCleanedBytes</key><string>2</string>"),
        xml(""),
        doc("<array><integer>7</integer></array>"),
        doc("<integer>7</integer>"),
        xml("<key>n</key><dict>" + t + "</dict>"),
        xml("<key> totalCleanedBytes</key><integer>7</integer>"),
        xml("<key>TotalCleanedBytes</key><integer>7</integer>"),
        "",
        " ",
        "<plist/>",
        "<plist><dict/><dict/></plist>",
        "<dict>" + t + "</dict><dict/>",
        xml(t) + "trailing",
        xml(t).replace("</plist>", ""),
        xml(t + "<key>dangling</key>"),
        xml(t + "<integer>8</integer>"),
        xml(t + "text"),
        xml(t + "<key>x</key><foo/>"),
        xml(t + "<key>x</key><integer>abc</integer>"),
        xml(t + "<key>x</key><real>1,5</real>"),
        xml(t + "<key>x</key><date>2024-05-17</date>"),
        xml(t + "<key>x</key><data>not base64!</data>"),
        xml(t + "<key>x</key><true>yes</true>"),
        xml(t + "<key>x</key><string><b/></string>"),
        xml(t + "<key>x<b/></key><string/>"),
        xml(t + "<key>x</key><string>&undeclared;</string>"),
        xml(t + "<key>x</key><plist/>"),
        xml(t).replace("</dict>", "</array>"),
        xml(t + "<key>x</key><string>\xff\xfe</string>"),
        doc("<x:dict xmlns:x=\"urn:x\">" + t + "</x:dict>"),
        "<plist><plist><dict>" + t + "</dict></plist></plist>",
        "<!DOCTYPE plist [<!ENTITY a \"7\">]><plist><dict><key>totalCleanedBytes</key>"
        "<integer>&a;</integer></dict></plist>"};
    History history;
    for (const QByteArray& document : seven)
        EXPECT_EQ(history.read(document), 7) << document.toStdString();
    for (const QByteArray& document : noTotal)
        EXPECT_EQ(history.read(document), none) << document.toStdString();

    QByteArray laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [\n<!ENTITY l0 \"lol\">\n";
    for (int i = 1; i < 10; ++i)
        laughs += "<!ENTITY l" + QByteArray::number(i) + " \"" +
                  ("&l" + QByteArray::number(i - 1) + ";").repeated(10) + "\">\n";
    EXPECT_EQ(history.read(laughs + "]><plist><dict><key>x</key><string>&l9;</string>" + t +
                           "</dict></plist>"),
              none);
    const QString utf16 =
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?><plist><dict>" + t + "</dict></plist>";
    EXPECT_EQ(history.read("\xff\xfe" + QByteArray(reinterpret_cast<const char*>(utf16.utf16()),
                                                   utf16.size() * 2)),
              7);
}

// Binary files assembled by hand, for what no writer makes.
using Refs = std::vector<std::uint64_t>;

QByteArray be(std::uint64_t value, int width)
{
    QByteArray bytes;
    for (int i = width - 1; i >= 0; --i)
        bytes += char((value >> (8 * i)) & 0xFF);
    return bytes;
}

int log2Width(std::uint64_t value)
{
    return value < 256 ? 0 : value < 65536 ? 1 : value >> 32 == 0 ? 2 : 3;
}

// A marker with a count, extended by an integer object when the count does not fit in it.
QByteArray marker(int type, std::uint64_t count)
{
    if (count < 15)
        return QByteArray(1, char(type << 4 | int(count)));
    return QByteArray(1, char(type << 4 | 0xF)) + char(0x10 | log2Width(count)) +
           be(count, 1 << log2Width(count));
}

QByteArray ascii(const QByteArray& text)
{
    return marker(5, text.size()) + text;
}

QByteArray utf16(const QString& text)
{
    QByteArray bytes = marker(6, text.size());
    for (const QChar c : text)
        bytes += be(c.unicode(), 2);
    return bytes;
}

QByteArray integer(int log2, std::uint64_t value)
{
    return char(0x10 | log2) + be(value, 1 << log2);
}

QByteArray real(double value)
{
    return '\x23' + be(std::bit_cast<std::uint64_t>(value), 8);
}

QByteArray array(const Refs& refs, int width = 1, int type = 0xA)
{
    QByteArray bytes = marker(type, refs.size());
    for (const std::uint64_t ref : refs)
        bytes += be(ref, width);
    return bytes;
}

QByteArray dict(const Refs& keys, const Refs& values, int width = 1)
{
    QByteArray bytes = marker(0xD, keys.size());
    for (const Refs* refs : {&keys, &values}) {
        for (const std::uint64_t ref : *refs)
            bytes += be(ref, width);
    }
    return bytes;
}

QByteArray bplist(const std::vector<QByteArray>& objects, int refWidth = 1)
{
    QByteArray out = "bplist00";
    Refs offsets;
    for (const QByteArray& object : objects) {
        offsets.push_back(out.size());
        out += object;
    }
    const std::uint64_t table = out.size();
    const int width = 1 << log2Width(table);
    for (const std::uint64_t offset : offsets)
        out += be(offset, width);
    return out + QByteArray(6, '\0') + char(width) + char(refWidth) + be(objects.size(), 8) +
           be(0, 8) + be(table, 8);
}

const QByteArray key = ascii("totalCleanedBytes");

// {totalCleanedBytes: 4096, other: extra}
QByteArray withExtra(const QByteArray& extra)
{
    return bplist({dict({1, 3}, {2, 4}), key, integer(1, 4096), ascii("other"), extra});
}

QByteArray int128(std::uint64_t high, std::uint64_t low)
{
    return '\x14' + be(high, 8) + be(low, 8);
}

QByteArray real32(float value)
{
    return '\x22' + be(std::bit_cast<std::uint32_t>(value), 4);
}

TEST(HistoryFiles, BinaryValues)
{
    const auto file = [](const QByteArray& value) { return bplist({dict({1}, {2}), key, value}); };
    History history;
    for (const QByteArray& value : {integer(1, 4096), int128(0, 4096), real(4096.0), real32(4096)})
        EXPECT_EQ(history.read(file(value)), 4096) << value.toHex().toStdString();
    EXPECT_EQ(history.read(file(integer(0, 0xFF))), 255); // 1, 2 and 4 bytes are unsigned
    EXPECT_EQ(history.read(file(integer(1, 0xFFFF))), 65535);
    EXPECT_EQ(history.read(file(integer(2, 0xFFFFFFFFu))), 4294967295);
    EXPECT_EQ(history.read(file(integer(3, ~0ull))), -1);
    EXPECT_EQ(history.read(file(integer(3, 1ull << 63))), int64Min);
    EXPECT_EQ(history.read(file(int128(~0ull, ~0ull))), -1);
    EXPECT_EQ(history.read(file(int128(~0ull, 1ull << 63))), int64Min);
    EXPECT_EQ(history.read(file(int128(0, int64Max))), int64Max);
    EXPECT_EQ(history.read(file(real32(-5))), -5);
    // 2^63 and -2^63 - 1 as 16-byte integers, a date, true, null, a UID, a string.
    for (const QByteArray& value :
         {int128(0, 1ull << 63), int128(~0ull, int64Max), int128(1, 0), real32(2048.5f),
          real(2048.5), real(9223372036854775808.0), real(std::nan("")), '\x33' + be(0, 8),
          QByteArray("\x09"), QByteArray(1, '\0'), QByteArray("\x81\x10\x00", 3), ascii("4096")})
        EXPECT_EQ(history.read(file(value)), none) << value.toHex().toStdString();
}

QByteArray withField(QByteArray file, int fromEnd, int width, std::uint64_t value)
{
    return file.replace(file.size() - fromEnd, width, be(value, width));
}

TEST(HistoryFiles, BinaryStructureIsCheckedBeforeUse)
{
    const QByteArray good = bplist({dict({1}, {2}), key, integer(1, 4096)});
    const std::uint64_t table = good.size() - 32 - 3;
    const std::uint64_t huge = ~0ull;
    // Trailer fields (offset size, reference size, object count, top object, table offset)
    // out of range, a count that wraps when multiplied by 8; table entries in the header,
    // beyond the objects and at the table; cut files; another version.
    const QByteArray broken[] = {withField(good, 26, 1, 0),
                                 withField(good, 26, 1, 9),
                                 withField(good, 26, 1, 8),
                                 withField(good, 25, 1, 0),
                                 withField(good, 25, 1, 9),
                                 withField(good, 25, 1, 2),
                                 withField(good, 24, 8, 0),
                                 withField(good, 24, 8, 4),
                                 withField(good, 24, 8, huge),
                                 withField(good, 24, 8, 0x2000000000000001u),
                                 withField(good, 16, 8, 3),
                                 withField(good, 16, 8, huge),
                                 withField(good, 8, 8, 0),
                                 withField(good, 8, 8, 8),
                                 withField(good, 8, 8, table + 1),
                                 withField(good, 8, 8, good.size()),
                                 withField(good, 8, 8, huge),
                                 withField(good, 8, 8, huge - 2),
                                 QByteArray(good).replace(table, 1, "\x02"),
                                 QByteArray(good).replace(table, 1, "\xff"),
                                 QByteArray(good).replace(table + 2, 1, be(table, 1)),
                                 good.first(40),
                                 good.sliced(1),
                                 "bplist00",
                                 "bplist00" + QByteArray(32, '\0'),
                                 QByteArray(good).replace(0, 8, "bplist01")};
    History history;
    ASSERT_EQ(history.read(good), 4096);
    for (const QByteArray& file : broken)
        EXPECT_EQ(history.read(file), none) << file.toHex().toStdString();

    // Objects that lie about their size, count, text or references, and unknown markers,
    // spoil the file wherever they stand; well-formed objects of every kind do not.
    const QByteArray badObjects[] = {'\x15' + QByteArray(32, '\0'),
                                     '\x21' + QByteArray(2, '\0'),
                                     '\x24' + QByteArray(16, '\0'),
                                     '\x32' + QByteArray(4, '\0'),
                                     "\x01",
                                     "\x0c",
                                     '\x0e' + QByteArray(16, '\0'),
                                     "\x70",
                                     "\x90",
                                     "\xb0",
                                     "\xe0",
                                     "\xf0",
                                     "\x5f\x14" + QByteArray(16, '\0') + "abc",
                                     "\x5f\x23" + QByteArray(8, '\0'),
                                     "\x5f\x13" + be(huge, 8),
                                     "\x5f\x13" + be(int64Max, 8),
                                     QByteArray("\x5f\x12\x00\x01\x00\x00x", 7),
                                     "\x4f",
                                     QByteArray("\x5f\x11\x00", 3),
                                     "\x55"
                                     "abc",
                                     "\x53"
                                     "a\x80z",
                                     '\x61' + be(0xD800, 2),
                                     '\x61' + be(0xDC00, 2),
                                     '\x62' + be(0xD800, 2) + be(0x41, 2),
                                     "\xa1\x05",
                                     "\xa1\xff",
                                     "\xd1\x02\x02",
                                     "\xd1\x01\x09",
                                     QByteArray("\x13\x00\x00", 3)};
    for (const QByteArray& object : badObjects)
        EXPECT_EQ(history.read(withExtra(object)), none) << object.toHex().toStdString();
    const QByteArray fineObjects[] = {QByteArray(1, '\0'),
                                      "\x08",
                                      "\x09",
                                      "\x0f",
                                      '\x33' + QByteArray(8, '\0'),
                                      "\x43"
                                      "abc",
                                      "\x40",
                                      QByteArray("\x4f\x10\x00", 3),
                                      utf16(QStringLiteral("ö😀")),
                                      '\x87' + QByteArray(8, '\x01'),
                                      "\xa2\x02\x02",
                                      "\xc1\x02",
                                      "\xd1\x03\x02",
                                      "\xaf\x10\x02\x02\x02"};
    for (const QByteArray& object : fineObjects)
        EXPECT_EQ(history.read(withExtra(object)), 4096) << object.toHex().toStdString();
}

TEST(HistoryFiles, BinaryKeysAndReferences)
{
    const QByteArray two = bplist({dict({1}, {2}), key, integer(1, 4096), integer(1, 4096)});
    const std::uint64_t table = two.size() - 32 - 4;
    // 300 levels, each an array holding the next one twice: 2^300 paths through 301 objects.
    std::vector<QByteArray> shared = {dict({1, 3}, {2, 4}, 2), key, integer(1, 4096),
                                      ascii("shared")};
    for (std::uint64_t level = 0; level < 300; ++level)
        shared.push_back(level == 299 ? array({2, 2}, 2) : array({level + 5, level + 5}, 2));
    // A million references to one object, and 300,000 small dicts.
    std::vector<QByteArray> large = {dict({1, 3, 5}, {2, 4, 6}, 4), key,
                                     integer(2, 3000000000u),       ascii("many"),
                                     array(Refs(1000000, 2), 4),    ascii("dicts")};
    Refs dicts;
    for (std::uint64_t i = 0; i < 300000; ++i)
        dicts.push_back(7 + i);
    large.push_back(array(dicts, 4));
    large.insert(large.end(), 300000, dict({1}, {2}, 4));

    History history;
    EXPECT_EQ(history.read(bplist({dict({1}, {2}), utf16("totalCleanedBytes"), integer(1, 9)})), 9);
    EXPECT_EQ(history.read(bplist({dict({1, 1}, {2, 3}), key, integer(0, 1), integer(0, 2)})), 2);
    EXPECT_EQ(history.read(bplist(shared, 2)), 4096);
    EXPECT_EQ(history.read(bplist(large, 4)), 3000000000);
    // The last of two keys is not a number; an integer as a key; two table entries for one
    // object; an object inside another's bytes; reference cycles: an array holding itself, a
    // loop through a set and a dict, one through the top dict, one the top does not reach.
    const QByteArray noTotal[] = {
        bplist({dict({1, 1}, {2, 3}), key, integer(0, 1), ascii("2")}),
        bplist({dict({2}, {1}), key, integer(1, 4096)}),
        QByteArray(two).replace(table + 3, 1, two.mid(table + 2, 1)),
        QByteArray(two).replace(table + 3, 1, QByteArray(1, char(two[table + 1] + 1))),
        withExtra(array({4})),
        bplist({dict({1, 3}, {2, 4}), key, integer(0, 1), ascii("loop"), array({5}),
                array({6}, 1, 0xC), dict({3}, {4})}),
        bplist({dict({1, 3}, {2, 0}), key, integer(0, 1), ascii("self")}),
        bplist({dict({1}, {2}), key, integer(0, 1), array({4}), array({3})})};
    for (const QByteArray& file : noTotal)
        EXPECT_EQ(history.read(file), none) << file.toHex().toStdString();
}

QByteArray xmlNested(int arrays, bool closed = true)
{
    return "<plist><dict><key>totalCleanedBytes</key><integer>1</integer><key>nest</key>" +
           QByteArray("<array>").repeated(arrays) +
           (closed ? QByteArray("</array>").repeated(arrays) + "</dict></plist>" : "");
}

QByteArray binaryNested(int arrays)
{
    std::vector<QByteArray> objects = {dict({1, 3}, {2, 4}, 4), key, integer(0, 1), ascii("n")};
    for (int i = 0; i < arrays; ++i)
        objects.push_back(i == arrays - 1 ? array({}) : array({std::uint64_t(5 + i)}, 4));
    return bplist(objects, 4);
}

// A chain A of 300 arrays reached from the top, and again from the end of a chain B: the depth
// is that of the longest path, 1 + |B| + 300, though A is walked first.
QByteArray sharedChains(int second)
{
    std::vector<QByteArray> objects = {dict({1, 3, 4}, {2, 5, 305}, 2), key, integer(1, 4096),
                                       ascii("a"), ascii("b")};
    for (std::uint64_t i = 0; i < 300; ++i)
        objects.push_back(i == 299 ? array({}, 2) : array({6 + i}, 2));
    for (int i = 0; i < second; ++i)
        objects.push_back(array({i == second - 1 ? 5 : std::uint64_t(306 + i)}, 2));
    return bplist(objects, 2);
}

// The top dict is level 1; 512 levels are the most allowed.
TEST(HistoryFiles, Nesting)
{
    History history;
    EXPECT_EQ(history.read(xmlNested(511)), 1);
    EXPECT_EQ(history.read(binaryNested(511)), 1);
    EXPECT_EQ(history.read(sharedChains(211)), 4096);
    for (const QByteArray& file :
         {xmlNested(512),
          QByteArray("<array>").repeated(512) + QByteArray("</array>").repeated(512),
          xmlNested(100000), xmlNested(100000, false),
          QByteArray("<dict><key>k</key>").repeated(100000),
          QByteArray("<a>").repeated(100000) + QByteArray("</a>").repeated(100000),
          binaryNested(512), binaryNested(100000), sharedChains(212)})
        EXPECT_EQ(history.read(file), none) << file.left(100).toHex().toStdString();
}

// Under a locale whose decimal separator is a comma, numbers are still read with a point.
// install-deps.sh generates de_DE.UTF-8; without it this fails rather than skip.
TEST(HistoryFiles, DecimalCommaLocale)
{
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
        << "de_DE.UTF-8 is missing: run scripts/install-deps.sh (or locale-gen de_DE.UTF-8)";
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(std::strtod("2048,5", nullptr), 2048.5); // the trap is set
    History history;
    EXPECT_EQ(history.read(fixture(QStringLiteral("real_2048_0.xml"))), 2048);
    EXPECT_EQ(history.read(fixture(QStringLiteral("real_2048_0.bplist"))), 2048);
    EXPECT_EQ(history.read(fixture(QStringLiteral("real_2048_5.xml"))), none);
    EXPECT_EQ(history.read(xml("<key>totalCleanedBytes</key><real>2.048e3</real>")), 2048);
    EXPECT_EQ(history.read(xml("<key>totalCleanedBytes</key><real>2048,0</real>")), none);
    EXPECT_EQ(history.read(xml("<key>totalCleanedBytes</key><integer>4.096</integer>")), none);
    std::setlocale(LC_ALL, saved.c_str());
    QLocale::setDefault(QLocale::c());
}

} // namespace
