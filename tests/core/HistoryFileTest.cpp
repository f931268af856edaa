// What Korvanta's history files read as: every case goes through the parser and, written to a
// real file, through CleanupHistoryReader (which reads "no total" as 0).

#include "TestSupport.h"
#include "status/CleanupHistoryReader.h"
#include "status/PropertyList.h"

#include <QLocale>
#include <QStringEncoder>
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
// newline may go).
TEST(HistoryFiles, TruncatedFiles)
{
    for (const char* name :
         {"realistic_history.xml", "realistic_history.bplist", "int_4096.bplist"}) {
        const QByteArray whole = fixture(QString::fromLatin1(name));
        const qsizetype complete =
            whole.startsWith("<?xml") ? whole.lastIndexOf("</plist>") + 8 : whole.size();
        for (qsizetype length = 0; length < complete; ++length)
            EXPECT_EQ(parse(whole.first(length)), none) << name << " cut to " << length;
    }
}

// One document a line: the total it reads as ("-": none), then the document, in which K
// {K} stands for <key>totalCleanedBytes</key> and {T} for {K}<integer>7</integer>.
const char* xmlCases = R"(7 <plist><dict>{T}</dict></plist>
7 <dict>{T}</dict>
7 <!-- c --><?pi x?><dict><!-- c -->{T}<?pi?></dict><!-- after -->
7 <dict><key>total&#67;leanedBytes</key><integer>7</integer></dict>
7 <dict><key><![CDATA[totalCleanedBytes]]></key><integer>7</integer></dict>
7 <dict><key>a</key><string>x &amp; &lt;y&gt;</string>{T}</dict>
7 <dict>{K}<integer>1</integer>{T}</dict>
7 <dict>{T}<key>big</key><integer>99999999999999999999999</integer></dict>
7 <dict>{T}<key>a</key><array><true/><false></false><date>2024-05-17T09:30:00Z</date></array></dict>
7 <dict>{T}<key>b</key><array><data>AAEC AwQ=</data><data></data></array></dict>
7 <dict>{T}<key>c</key><array><string/><dict/><real>nan</real></array></dict>
- <dict>{T}{K}<string>2</string></dict>
- <dict/>
- <array><integer>7</integer></array>
- <integer>7</integer>
- <dict><key>n</key><dict>{T}</dict></dict>
- <dict><key> totalCleanedBytes</key><integer>7</integer></dict>
- <plist/>
- <plist><dict/><dict/></plist>
- <dict>{T}</dict><dict/>
- <plist><dict>{T}</dict></plist>trailing
- <plist><dict>{T}</dict>
- <dict>{T}<key>dangling</key></dict>
- <dict>{T}<integer>8</integer></dict>
- <dict>{T}text</dict>
- <dict>{T}<key>x</key><foo/></dict>
- <dict>{T}<key>x</key><real>1,5</real></dict>
- <dict>{T}<key>x</key><date>2024-05-17</date></dict>
- <dict>{T}<key>x</key><data>not base64!</data></dict>
- <dict>{T}<key>x</key><string><b/></string></dict>
- <dict>{T}<key>x<b/></key><string/></dict>
- <dict>{T}<key>x</key><string>&undeclared;</string></dict>
- <dict>{T}</array>
- <x:dict xmlns:x="urn:x">{T}</x:dict>
- <plist><plist><dict>{T}</dict></plist></plist>
- <!DOCTYPE plist [<!ENTITY a "7">]><plist><dict>{K}<integer>&a;</integer></dict></plist>
- <dict>{K}<integer></integer></dict>
- <dict>{K}<integer>1 000</integer></dict>
- <dict>{K}<real></real></dict>)";

// <integer> and <real> texts and what each reads as ("-": none). 9223372036854775807.0 is 2^63
// as a double, -9223372036854777856 the next one below -2^63.
const char* numbers =
    "integer:+4096=4096 integer:000000000000000000000000004096=4096 integer:-0=0 "
    "integer:9223372036854775807=9223372036854775807 "
    "integer:-9223372036854775808=-9223372036854775808 integer:9223372036854775808=- "
    "integer:-9223372036854775809=- integer:18446744073709551616=- integer:+-1=- "
    "integer:0x10=- integer:4096.0=- real:2048=2048 real:+2048.000=2048 real:2.048E+3=2048 "
    "real:.2048e4=2048 real:204800e-2=2048 real:-0.0=0 real:0e999999=0 "
    "real:-9.223372036854775808e18=-9223372036854775808 "
    "real:9223372036854774784=9223372036854774784 real:9223372036854775807.0=- "
    "real:-9223372036854777856=- real:2048.5=- real:0.1=- real:1e-400=- real:5e-324=- "
    "real:1e400=- real:inf=- real:NaN=- real:2048,0=- real:0x1p11=- real:e3=- real:2048.0f=-";

QByteArray xml(const QByteArray& document)
{
    return QByteArray(document)
        .replace("{T}", "{K}<integer>7</integer>")
        .replace("{K}", "<key>totalCleanedBytes</key>");
}

void expectNumbers()
{
    History history;
    for (const QByteArray& entry : QByteArray(numbers).split(' ')) {
        const QByteArray tag = entry.first(entry.indexOf(':')),
                         total = entry.sliced(entry.lastIndexOf('=') + 1);
        const QByteArray text = entry.sliced(tag.size() + 1).chopped(total.size() + 1);
        EXPECT_EQ(history.read(xml("<dict>{K}<" + tag + ">" + text + "</" + tag + "></dict>")),
                  total == "-" ? none : Total(total.toLongLong()))
            << entry.toStdString();
    }
}

TEST(HistoryFiles, XmlDocuments)
{
    History history;
    for (const QByteArray& line : QByteArray(xmlCases).split('\n')) {
        const QByteArray document = xml(line.sliced(line.indexOf(' ') + 1));
        const QByteArray total = line.first(line.indexOf(' '));
        EXPECT_EQ(history.read(document), total == "-" ? none : Total(total.toLongLong()))
            << document.toStdString();
    }
    expectNumbers();
    for (const QByteArray& broken : {QByteArray(), QByteArray(" "), xml("<dict>{T}\xff</dict>"),
                                     xml("<dict>{K}<integer>\xd9\xa4</integer></dict>")})
        EXPECT_EQ(history.read(broken), none) << broken.toStdString();
    EXPECT_EQ(history.read(xml("\xef\xbb\xbf<dict>{T}</dict>")), 7); // byte order mark
    EXPECT_EQ(history.read(xml("<dict>{K}<integer> \n\t7\r\n </integer></dict>")), 7);
    EXPECT_EQ(history.read(xml("<dict>{K}<real> 7.0\n</real></dict>")), 7);
    const QString utf16 = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + xml("<dict>{T}</dict>");
    EXPECT_EQ(history.read("\xff\xfe" + QByteArray(reinterpret_cast<const char*>(utf16.utf16()),
                                                   utf16.size() * 2)),
              7);
}

// Binary files assembled by hand, for what no writer makes.
QByteArray be(std::uint64_t value, int width)
{
    QByteArray bytes;
    for (int i = width - 1; i >= 0; --i)
        bytes += char((value >> (8 * i)) & 0xFF);
    return bytes;
}

// The objects in order, object 0 on top; references `refWidth` bytes wide.
QByteArray bplist(const std::vector<QByteArray>& objects, int refWidth = 1)
{
    QByteArray out = "bplist00";
    std::vector<std::uint64_t> offsets;
    for (const QByteArray& object : objects) {
        offsets.push_back(out.size());
        out += object;
    }
    const std::uint64_t table = out.size();
    const int width = table < 256 ? 1 : table < 65536 ? 2 : 4;
    for (const std::uint64_t offset : offsets)
        out += be(offset, width);
    return out + QByteArray(6, '\0') + char(width) + char(refWidth) + be(objects.size(), 8) +
           be(0, 8) + be(table, 8);
}

// Objects written in hex, " | " between them: "K" is the key "totalCleanedBytes", and "+N" at
// the end of an object appends N zero bytes.
QByteArray bplist(const QString& objects)
{
    std::vector<QByteArray> parsed;
    for (const QString& object : objects.split(" | ")) {
        parsed.push_back(object == "K" ? QByteArray("\x5f\x10\x11totalCleanedBytes")
                                       : QByteArray::fromHex(object.section('+', 0, 0).toLatin1()));
        parsed.back() += QByteArray(object.section('+', 1).toInt(), '\0');
    }
    return bplist(parsed);
}

QByteArray real(double value)
{
    return "23" + be(std::bit_cast<std::uint64_t>(value), 8).toHex();
}

// The total's object, in hex; the file is {totalCleanedBytes: it}.
TEST(HistoryFiles, BinaryValues)
{
    // 1-, 2- and 4-byte integers are unsigned, 8- and 16-byte ones signed; a 4-byte real.
    const QString cases =
        "111000=4096 10ff=255 11ffff=65535 12ffffffff=4294967295 "
        "13ffffffffffffffff=-1 138000000000000000=-9223372036854775808 "
        "1400000000000000000000000000001000=4096 "
        "14ffffffffffffffffffffffffffffffff=-1 "
        "14ffffffffffffffff8000000000000000=-9223372036854775808 "
        "1400000000000000007fffffffffffffff=9223372036854775807 "
        "1400000000000000008000000000000000=- 14ffffffffffffffff7fffffffffffffff=- "
        "1400000000000000010000000000000000=- 22c0a00000=-5 2245000800=- 33+8=- "
        "09=- 00=- 811000=- 5434303936=-";
    History history;
    for (const QString& entry : cases.split(' ')) {
        const QString total = entry.section('=', 1);
        EXPECT_EQ(history.read(bplist("d1 01 02 | K | " + entry.section('=', 0, 0))),
                  total == "-" ? none : Total(total.toLongLong()))
            << entry.toStdString();
    }
    for (const double value : {2048.5, 9223372036854775808.0, std::nan("")})
        EXPECT_EQ(history.read(bplist("d1 01 02 | K | " + real(value))), none) << value;
    EXPECT_EQ(history.read(bplist("d1 01 02 | K | " + real(-2048.0))), -2048);
}

QByteArray withField(QByteArray file, int fromEnd, int width, std::uint64_t value)
{
    return file.replace(file.size() - fromEnd, width, be(value, width));
}

TEST(HistoryFiles, BinaryStructureIsCheckedBeforeUse)
{
    const QByteArray good = bplist("d1 01 02 | K | 11 1000");
    const std::uint64_t table = good.size() - 32 - 3, huge = ~0ull;
    // Trailer fields (offset size, reference size, object count, top object, table offset)
    // out of range, a count that wraps when multiplied by 8.
    const struct {
        int fromEnd, width;
        std::uint64_t value;
    } fields[] = {{26, 1, 0},        {26, 1, 9},
                  {26, 1, 8},        {25, 1, 0},
                  {25, 1, 9},        {25, 1, 2},
                  {24, 8, 0},        {24, 8, 4},
                  {24, 8, huge},     {24, 8, 1ull << 61 | 1},
                  {16, 8, 3},        {16, 8, huge},
                  {8, 8, 0},         {8, 8, 8},
                  {8, 8, table + 1}, {8, 8, table + 3 + 32},
                  {8, 8, huge},      {8, 8, huge - 2}};
    History history;
    ASSERT_EQ(history.read(good), 4096);
    for (const auto& f : fields)
        EXPECT_EQ(history.read(withField(good, f.fromEnd, f.width, f.value)), none)
            << f.fromEnd << " " << f.value;
    // Table entries in the header, beyond the objects and at the table; cut files; another
    // version.
    for (const QByteArray& file :
         {QByteArray(good).replace(table, 1, "\x02"), QByteArray(good).replace(table, 1, "\xff"),
          QByteArray(good).replace(table + 2, 1, be(table, 1)), good.first(40), good.sliced(1),
          QByteArray("bplist00"), "bplist00" + QByteArray(32, '\0'),
          QByteArray(good).replace(0, 8, "bplist01")})
        EXPECT_EQ(history.read(file), none) << file.toHex().toStdString();

    // Beside the total, an object of another type: those that lie about their size, count,
    // text or references, and unknown markers, spoil the file; well-formed ones do not.
    const QString bad = "15+32 21+2 24+16 32+4 01 0c 0e+16 70 90 b0 e0 f0 5f14+16 5f23+8 "
                        "5f13ffffffffffffffff 5f137fffffffffffffff 5f12000100007a 4f 5f11+1 "
                        "55616263 5361807a 61d800 61dc00 62d8000041 a105 a1ff d10202 d10109 13+2";
    const QString fine = "00 08 09 0f 33+8 43616263 40 4f1000 6300f6d83dde00 87+8 a20202 c102 "
                         "d10302 af10020202";
    for (const QString& object : bad.split(' '))
        EXPECT_EQ(history.read(bplist("d2 01 03 02 04 | K | 11 1000 | 55 6f74686572 | " + object)),
                  none)
            << object.toStdString();
    for (const QString& object : fine.split(' '))
        EXPECT_EQ(history.read(bplist("d2 01 03 02 04 | K | 11 1000 | 55 6f74686572 | " + object)),
                  4096)
            << object.toStdString();
}

// A file a line: a UTF-16 key; the last of two keys; then no total: the last of two keys not a
// number, an integer as a key, two table entries for one object, an object inside another's
// bytes, and reference cycles (an array holding itself, a loop through a set and a dict, one
// through the top dict, one the top does not reach).
TEST(HistoryFiles, BinaryKeysAndReferences)
{
    History history;
    const QByteArray utf16Key = QStringEncoder(QStringEncoder::Utf16BE)(u"totalCleanedBytes");
    EXPECT_EQ(history.read(bplist("d1 01 02 | 6f 10 11 " + utf16Key.toHex() + " | 10 09")), 9);
    EXPECT_EQ(history.read(bplist("d2 01 01 02 03 | K | 10 01 | 10 02")), 2);
    QByteArray twice = bplist("d1 01 02 | K | 11 1000 | 11 1000");
    QByteArray inside = twice;
    const qsizetype table = twice.size() - 32 - 4;
    twice[table + 3] = twice[table + 2];
    inside[table + 3] = char(inside[table + 1] + 1);
    for (const QByteArray& file :
         {bplist("d2 01 01 02 03 | K | 10 01 | 51 32"), bplist("d1 02 01 | K | 11 1000"), twice,
          inside, bplist("d2 01 03 02 04 | K | 10 01 | 54 6c6f6f70 | a1 04"),
          bplist("d2 01 03 02 04 | K | 10 01 | 54 6c6f6f70 | a1 05 | c1 06 | d1 03 04"),
          bplist("d2 01 03 02 00 | K | 10 01 | 54 73656c66"),
          bplist("d1 01 02 | K | 10 01 | a1 04 | a1 03")})
        EXPECT_EQ(history.read(file), none) << file.toHex().toStdString();
}

const QByteArray key = "\x5f\x10\x11totalCleanedBytes";

QByteArray ascii(const QByteArray& shortText)
{
    return char(0x50 | shortText.size()) + shortText;
}

// `arrays` nested in each other under the top dict's second key; 4-byte references.
QByteArray binaryNested(int arrays)
{
    std::vector<QByteArray> objects = {
        QByteArray::fromHex("d2 00000001 00000003 00000002 00000004"), key, "\x10\x01", ascii("n")};
    for (int i = 0; i < arrays; ++i)
        objects.push_back(i == arrays - 1 ? "\xa0" : "\xa1" + be(5 + i, 4));
    return bplist(objects, 4);
}

// Shared objects, 2-byte references. 300 levels, each an array holding the next one twice:
// 2^300 paths through 301 objects.
QByteArray doubledLevels()
{
    std::vector<QByteArray> objects = {QByteArray::fromHex("d2 0001 0003 0002 0004"), key,
                                       QByteArray("\x11\x10\x00", 3), ascii("s")};
    for (int i = 0; i < 300; ++i)
        objects.push_back("\xa2" + be(i == 299 ? 2 : 5 + i, 2).repeated(2));
    return bplist(objects, 2);
}

// A chain A of 300 arrays under the top dict, reached again from the end of a chain B of
// `second` arrays: the depth is that of the longest path, 1 + `second` + 300, though A is
// walked first.
QByteArray sharedChains(int second)
{
    std::vector<QByteArray> objects = {QByteArray::fromHex("d3 0001 0003 0004 0002 0005 0131"), key,
                                       QByteArray("\x11\x10\x00", 3), ascii("a"), ascii("b")};
    for (int i = 0; i < 300; ++i)
        objects.push_back(i == 299 ? "\xa0" : "\xa1" + be(6 + i, 2));
    for (int i = 0; i < second; ++i)
        objects.push_back("\xa1" + be(i == second - 1 ? 5 : 306 + i, 2));
    return bplist(objects, 2);
}

// The top dict is level 1; 512 levels are the most allowed.
TEST(HistoryFiles, Nesting)
{
    History history;
    const auto xmlNested = [](int arrays, bool closed = true) {
        return xml("<plist><dict>{T}<key>n</key>") + QByteArray("<array>").repeated(arrays) +
               (closed ? QByteArray("</array>").repeated(arrays) + "</dict></plist>" : "");
    };
    EXPECT_EQ(history.read(xmlNested(511)), 7);
    EXPECT_EQ(history.read(binaryNested(511)), 1);
    EXPECT_EQ(history.read(doubledLevels()), 4096);
    EXPECT_EQ(history.read(sharedChains(211)), 4096);
    // A large file: a million references to one object.
    EXPECT_EQ(
        history.read(bplist({QByteArray::fromHex("d2 00000001 00000003 00000002 00000004"), key,
                             QByteArray("\x11\x10\x00", 3), ascii("m"),
                             QByteArray::fromHex("af 12 000f4240") + be(2, 4).repeated(1000000)},
                            4)),
        4096);
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
    expectNumbers();
    std::setlocale(LC_ALL, saved.c_str());
    QLocale::setDefault(QLocale::c());
}

} // namespace
