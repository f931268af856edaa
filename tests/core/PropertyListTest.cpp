// The property-list reader on its own: fixtures written by Python's plistlib, hand-made XML
// and binary edge cases, very deep and very large inputs, and a decimal-comma locale.

#include "status/PropertyList.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

using kmb::totalCleanedBytesFromPropertyList;

namespace {

constexpr std::int64_t kInt64Min = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();
const std::optional<std::int64_t> kNone = std::nullopt;

QString fixturePath(const QString& name)
{
    return QStringLiteral(KMB_FIXTURES_DIR "/history/") + name;
}

QByteArray readFixture(const QString& name)
{
    QFile file(fixturePath(name));
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot open fixture " << name.toStdString();
        return {};
    }
    return file.readAll();
}

std::optional<std::int64_t> parse(const QByteArray& bytes)
{
    return totalCleanedBytesFromPropertyList(QByteArrayView(bytes));
}

std::string describe(const std::optional<std::int64_t>& value)
{
    return value ? std::to_string(*value) : std::string("none");
}

// What each checked-in fixture must read as (written by make_fixtures.py with plistlib).
// "none": the pure reader gives nullopt, and CleanupHistoryReader gives 0.
const std::map<QString, std::optional<std::int64_t>>& fixtureTable()
{
    static const std::map<QString, std::optional<std::int64_t>> table = [] {
        std::map<QString, std::optional<std::int64_t>> t;
        auto both = [&](const char* stem, std::optional<std::int64_t> value) {
            t[QString::fromLatin1(stem) + QStringLiteral(".xml")] = value;
            t[QString::fromLatin1(stem) + QStringLiteral(".bplist")] = value;
        };
        // Counts.
        both("int_4096", 4096);
        both("int_zero", 0);
        both("int_negative_5", -5);
        both("int_min", kInt64Min);
        both("int_max", kInt64Max);
        both("int_200_one_byte", 200);
        both("int_40000_two_bytes", 40000);
        both("int_3000000000_four_bytes", 3000000000);
        both("real_2048_0", 2048);
        both("real_negative_2048_0", -2048);
        both("real_negative_zero", 0);
        both("real_min", kInt64Min);
        both("real_largest_below_2pow63", 9223372036854774784);
        both("realistic_history", 123456789);
        both("unicode_neighbour_key", 77);
        t[QStringLiteral("depth_512.bplist")] = 512;
        // Does not count.
        t[QStringLiteral("depth_513.bplist")] = kNone;
        both("int_2pow63", kNone);
        both("int_2pow64_minus_1", kNone);
        both("real_2048_5", kNone);
        both("real_2pow63", kNone);
        both("real_1e20", kNone);
        both("real_infinity", kNone);
        both("real_nan", kNone);
        both("string_1024", kNone);
        both("date", kNone);
        both("bool_true", kNone);
        both("data", kNone);
        both("array_value", kNone);
        both("dict_value", kNone);
        both("missing_key", kNone);
        both("top_level_array", kNone);
        both("top_level_integer", kNone);
        t[QStringLiteral("truncated.xml")] = kNone;
        t[QStringLiteral("truncated.bplist")] = kNone;
        t[QStringLiteral("empty.plist")] = kNone;
        t[QStringLiteral("garbage.plist")] = kNone;
        t[QStringLiteral("cycle.bplist")] = kNone;
        t[QStringLiteral("cycle_through_top.bplist")] = kNone;
        t[QStringLiteral("shared_offset.bplist")] = kNone;
        return t;
    }();
    return table;
}

TEST(PropertyListFixtures, EveryFixtureReadsAsItsTableSays)
{
    for (const auto& [name, expected] : fixtureTable()) {
        const QByteArray bytes = readFixture(name);
        if (name != QStringLiteral("empty.plist")) {
            ASSERT_FALSE(bytes.isEmpty()) << name.toStdString();
        }
        EXPECT_EQ(parse(bytes), expected)
            << name.toStdString() << " read as " << describe(parse(bytes)) << ", expected "
            << describe(expected);
    }
}

TEST(PropertyListFixtures, TheTableCoversEveryCheckedInFixture)
{
    const QStringList files = QDir(fixturePath(QString()))
                                  .entryList({QStringLiteral("*.xml"), QStringLiteral("*.bplist"),
                                              QStringLiteral("*.plist")},
                                             QDir::Files);
    EXPECT_GE(files.size(), 70);
    for (const QString& file : files)
        EXPECT_TRUE(fixtureTable().count(file)) << file.toStdString() << " has no expectation";
}

TEST(PropertyListFixtures, EachEncodingIsReadByItsOwnParserOnly)
{
    const QByteArray xml = readFixture(QStringLiteral("int_4096.xml"));
    const QByteArray binary = readFixture(QStringLiteral("int_4096.bplist"));
    EXPECT_EQ(kmb::plist::totalCleanedBytesFromXml(xml), 4096);
    EXPECT_EQ(kmb::plist::totalCleanedBytesFromBinary(binary), 4096);
    EXPECT_EQ(kmb::plist::totalCleanedBytesFromXml(binary), kNone);
    EXPECT_EQ(kmb::plist::totalCleanedBytesFromBinary(xml), kNone);
}

// Every proper prefix of a valid file is a broken file (for XML, up to the end of </plist>:
// only the trailing newline may go).
TEST(PropertyListFixtures, EveryTruncationOfAValidFileReadsAsNone)
{
    for (const char* name : {"realistic_history.xml", "int_4096.xml", "realistic_history.bplist",
                             "int_4096.bplist", "depth_512.bplist"}) {
        const QByteArray whole = readFixture(QString::fromLatin1(name));
        ASSERT_TRUE(parse(whole).has_value()) << name;
        qsizetype complete = whole.size();
        if (whole.startsWith("<?xml"))
            complete = whole.lastIndexOf("</plist>") + qsizetype(std::strlen("</plist>"));
        for (qsizetype length = 0; length < complete; ++length) {
            const auto result = parse(whole.first(length));
            if (result.has_value())
                ADD_FAILURE() << name << " cut to " << length << " bytes read as " << *result;
        }
    }
}

// No input may crash or hang the reader: every single-byte change of a few valid files.
TEST(PropertyListFixtures, SingleByteCorruptionsNeverCrash)
{
    for (const char* name :
         {"realistic_history.bplist", "unicode_neighbour_key.bplist", "realistic_history.xml"}) {
        const QByteArray whole = readFixture(QString::fromLatin1(name));
        int counted = 0;
        for (qsizetype i = 0; i < whole.size(); ++i) {
            for (int value :
                 {0x00, 0x01, 0x0F, 0x10, 0x1F, 0x3C, 0x5F, 0x7F, 0x80, 0xAF, 0xDF, 0xFF}) {
                QByteArray changed = whole;
                changed[i] = static_cast<char>(value);
                if (parse(changed).has_value())
                    ++counted;
            }
        }
        EXPECT_GT(counted, 0) << name; // e.g. changes inside unused text keep the file valid
    }
}

// ---------------------------------------------------------------------------------------------
// XML

QByteArray xmlDocument(const QByteArray& object)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n" +
           object + "\n</plist>\n";
}

QByteArray xmlWithTotal(const QByteArray& valueElement)
{
    return xmlDocument("<dict><key>totalCleanedBytes</key>" + valueElement + "</dict>");
}

TEST(PropertyListXml, IntegerSyntax)
{
    const std::vector<std::pair<const char*, std::optional<std::int64_t>>> cases = {
        {"4096", 4096},
        {" \n\t4096\r\n ", 4096},
        {"+42", 42},
        {"-0", 0},
        {"000000000000000000000000000042", 42},
        {"9223372036854775807", kInt64Max},
        {"-9223372036854775808", kInt64Min},
        {"9223372036854775808", kNone},
        {"-9223372036854775809", kNone},
        {"18446744073709551616", kNone},
        {"123456789012345678901234567890", kNone},
        {"", kNone},
        {"-", kNone},
        {"+-1", kNone},
        {"--1", kNone},
        {"0x10", kNone},
        {"1_000", kNone},
        {"1 000", kNone},
        {"4096.0", kNone},
        {"1e3", kNone},
        {"\xd9\xa4", kNone}, // an Arabic-Indic digit four
    };
    for (const auto& [text, expected] : cases) {
        const QByteArray element = QByteArray("<integer>") + text + "</integer>";
        EXPECT_EQ(parse(xmlWithTotal(element)), expected) << element.toStdString();
    }
}

TEST(PropertyListXml, RealSyntaxAndWholeness)
{
    const std::vector<std::pair<const char*, std::optional<std::int64_t>>> cases = {
        {"2048.0", 2048},
        {"2048", 2048},
        {"2048.", 2048},
        {"+2048.000", 2048},
        {" 2048.0\n", 2048},
        {"2.048e3", 2048},
        {"2.048E+3", 2048},
        {".5e4", 5000},
        {"204800e-2", 2048},
        {"-2048.0", -2048},
        {"-0.0", 0},
        {"0e999999", 0},
        {"-9223372036854775808.0", kInt64Min},
        {"-9.223372036854775808e18", kInt64Min},
        {"9223372036854774784", 9223372036854774784},
        {"9223372036854775807.0", kNone}, // rounds to 2^63 as a double
        {"9.223372036854776e+18", kNone},
        {"2048.5", kNone},
        {"0.1", kNone},
        {"1e-400", kNone},
        {"1e400", kNone},
        {"-1e400", kNone},
        {"inf", kNone},
        {"-Infinity", kNone},
        {"+infty", kNone},
        {"NaN", kNone},
        {"2048,0", kNone},
        {"2048,5", kNone},
        {"2 048", kNone},
        {"0x1p11", kNone},
        {"", kNone},
        {".", kNone},
        {"e3", kNone},
        {"1e", kNone},
        {"1e+", kNone},
        {"2048.0f", kNone},
    };
    for (const auto& [text, expected] : cases) {
        const QByteArray element = QByteArray("<real>") + text + "</real>";
        EXPECT_EQ(parse(xmlWithTotal(element)), expected) << element.toStdString();
    }
}

TEST(PropertyListXml, DocumentShapes)
{
    const QByteArray body = "<dict><key>totalCleanedBytes</key><integer>7</integer></dict>";
    const std::vector<std::pair<QByteArray, std::optional<std::int64_t>>> cases = {
        {xmlDocument(body), 7},
        {"<plist>" + body + "</plist>", 7},
        {body, 7}, // a bare object, as Apple's and Python's readers take it
        {"\xef\xbb\xbf" + xmlDocument(body), 7}, // UTF-8 byte order mark
        {"<!-- c --><?pi x?>" + body + "<!-- after -->\n", 7},
        {xmlDocument("<!-- c --><dict><!-- c --><key>totalCleanedBytes</key><!-- c -->"
                     "<integer>7</integer><?pi?></dict>"),
         7},
        {xmlDocument("<dict><key>total&#67;leanedBytes</key><integer>7</integer></dict>"), 7},
        {xmlDocument("<dict><key><![CDATA[totalCleanedBytes]]></key><integer>7</integer></dict>"),
         7},
        {xmlDocument("<dict>\n\t<key>a</key>\n\t<string>x &amp; &lt;y&gt;</string>\n\t"
                     "<key>totalCleanedBytes</key>\n\t<integer>7</integer>\n</dict>"),
         7},
        {xmlDocument("<dict><key>totalCleanedBytes</key><integer>1</integer>"
                     "<key>totalCleanedBytes</key><integer>2</integer></dict>"),
         2}, // the last one wins, as in Apple's and Python's readers
        {xmlDocument("<dict><key>totalCleanedBytes</key><integer>1</integer>"
                     "<key>totalCleanedBytes</key><string>2</string></dict>"),
         kNone},
        {xmlDocument("<dict><key>totalCleanedBytes</key><integer>7</integer>"
                     "<key>big</key><integer>99999999999999999999999</integer></dict>"),
         7}, // an out-of-range integer elsewhere is well-formed, just unused
        {xmlDocument("<dict><key>totalCleanedBytes</key><integer>7</integer>"
                     "<key>all</key><array><true/><false></false><date>2024-05-17T09:30:00Z</date>"
                     "<date>2024Z</date><data>AAEC\n AwQ=</data><data></data><string/>"
                     "<dict/><array/><real>nan</real></array></dict>"),
         7},
        {xmlDocument("<dict/>"), kNone},
        {xmlDocument("<array><integer>7</integer></array>"), kNone},
        {xmlDocument("<integer>7</integer>"), kNone},
        {xmlDocument("<dict><key>n</key>" + body + "</dict>"), kNone}, // only the top level
        {xmlDocument("<dict><key> totalCleanedBytes</key><integer>7</integer></dict>"), kNone},
        {xmlDocument("<dict><key>TotalCleanedBytes</key><integer>7</integer></dict>"), kNone},
    };
    for (const auto& [document, expected] : cases)
        EXPECT_EQ(parse(document), expected) << document.toStdString();
}

TEST(PropertyListXml, AnyMalformedPartSpoilsTheWholeFile)
{
    const QByteArray good = "<key>totalCleanedBytes</key><integer>7</integer>";
    const std::vector<QByteArray> documents = {
        "",
        " ",
        "<plist/>",
        "<plist></plist>",
        "<plist>" + QByteArray("<dict>") + good + "</dict><dict/></plist>", // two objects
        "<dict>" + good + "</dict><dict/>",                                 // two roots
        xmlDocument("<dict>" + good + "</dict>") + "trailing",
        xmlDocument("<dict>" + good + "</dict>").replace("</plist>", ""),
        xmlDocument("<dict>" + good + "<key>dangling</key></dict>"),
        xmlDocument("<dict>" + good + "<integer>8</integer></dict>"), // object without a key
        xmlDocument("<dict>" + good + "text</dict>"),
        xmlDocument("<dict>" + good + "<key>x</key><foo/></dict>"),
        xmlDocument("<dict>" + good + "<key>x</key><integer>abc</integer></dict>"),
        xmlDocument("<dict>" + good + "<key>x</key><real>1,5</real></dict>"),
        xmlDocument("<dict>" + good + "<key>x</key><date>yesterday</date></dict>"),
        xmlDocument("<dict>" + good + "<key>x</key><date>2024-05-17</date></dict>"), // no Z
        xmlDocument("<dict>" + good + "<key>x</key><data>not base64!</data></dict>"),
        xmlDocument("<dict>" + good + "<key>x</key><true>yes</true></dict>"),
        xmlDocument("<dict>" + good + "<key>x</key><string><b/></string></dict>"),
        xmlDocument("<dict>" + good + "<key>x<b/></key><string/></dict>"),
        xmlDocument("<dict>" + good + "<key>x</key><string>&undeclared;</string></dict>"),
        xmlDocument("<dict>" + good + "<key>x</key><plist/></dict>"),
        xmlDocument("<dict>" + good + "</dict>").replace("</dict>", "</array>"),
        xmlDocument("<dict>" + good + "<key>x</key><string>\xff\xfe</string></dict>"),
        xmlDocument("<x:dict xmlns:x=\"urn:x\">" + good + "</x:dict>"),
        "<plist><plist><dict>" + good + "</dict></plist></plist>",
    };
    for (const QByteArray& document : documents)
        EXPECT_EQ(parse(document), kNone) << document.toStdString();
}

TEST(PropertyListXml, Utf16DocumentsAreRead)
{
    const QString text = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?>"
                                        "<plist><dict><key>totalCleanedBytes</key>"
                                        "<integer>4096</integer></dict></plist>");
    QByteArray bytes("\xff\xfe", 2); // little-endian byte order mark
    bytes.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    EXPECT_EQ(parse(bytes), 4096);
}

// Internal entities would let a few bytes expand into gigabytes: a DTD that declares any is
// refused at once.
TEST(PropertyListXml, EntityDeclarationsAreRefused)
{
    QByteArray laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [\n<!ENTITY l0 \"lol\">\n";
    for (int i = 1; i < 10; ++i) {
        laughs += "<!ENTITY l" + QByteArray::number(i) + " \"";
        for (int k = 0; k < 10; ++k)
            laughs += "&l" + QByteArray::number(i - 1) + ";";
        laughs += "\">\n";
    }
    laughs += "]>\n<plist><dict><key>x</key><string>&l9;</string>"
              "<key>totalCleanedBytes</key><integer>1</integer></dict></plist>";
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(parse(laughs), kNone);
    EXPECT_LT(clock.elapsed(), 1000);

    EXPECT_EQ(parse("<!DOCTYPE plist [<!ENTITY a \"7\">]><plist><dict><key>totalCleanedBytes</key>"
                    "<integer>&a;</integer></dict></plist>"),
              kNone);
}

QByteArray xmlNestedArrays(int arrays, bool closed)
{
    QByteArray document = "<plist><dict><key>totalCleanedBytes</key><integer>1</integer>"
                          "<key>nest</key>";
    document += QByteArray("<array>").repeated(arrays);
    if (closed)
        document += QByteArray("</array>").repeated(arrays) + "</dict></plist>";
    return document;
}

// The top dict is level 1: 511 arrays in it make 512 levels, the most allowed.
TEST(PropertyListXml, NestingLimitIs512Levels)
{
    EXPECT_EQ(parse(xmlNestedArrays(511, true)), 1);
    EXPECT_EQ(parse(xmlNestedArrays(512, true)), kNone);
    EXPECT_EQ(parse(QByteArray("<array>").repeated(512) + QByteArray("</array>").repeated(512)),
              kNone); // 512 levels, fine, but not a dict at the top
}

TEST(PropertyListXml, HundredThousandLevelsFailWithoutCrashing)
{
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(parse(xmlNestedArrays(100000, true)), kNone);
    EXPECT_EQ(parse(xmlNestedArrays(100000, false)), kNone);
    EXPECT_EQ(parse(QByteArray("<dict><key>k</key>").repeated(100000)), kNone);
    EXPECT_EQ(parse(QByteArray("<a>").repeated(100000) + QByteArray("</a>").repeated(100000)),
              kNone);
    EXPECT_LT(clock.elapsed(), 5000);
}

TEST(PropertyListXml, LargeFileIsReadInOnePass)
{
    // About 6 MB: 100,000 entries, then the total.
    QByteArray document = "<plist><dict>";
    const QByteArray entry = "<key>k</key><dict><key>path</key><string>/home/user/.cache/thing"
                             "</string><key>bytes</key><integer>12345</integer></dict>\n";
    document.reserve(entry.size() * 100000 + 200);
    for (int i = 0; i < 100000; ++i)
        document += entry;
    document += "<key>totalCleanedBytes</key><integer>99</integer></dict></plist>";
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(parse(document), 99);
    EXPECT_LT(clock.elapsed(), 20000) << "took " << clock.elapsed() << " ms";
}

// ---------------------------------------------------------------------------------------------
// Binary

// Assembles bplist00 files from encoded objects, in index order, for cases no writer makes.
class BinaryPlist {
public:
    explicit BinaryPlist(int refSize = 1) : m_refSize(refSize) {}

    std::uint64_t add(const QByteArray& object)
    {
        m_objects.push_back(object);
        return m_objects.size() - 1;
    }
    std::uint64_t count() const { return m_objects.size(); }

    static QByteArray bigEndian(std::uint64_t value, int width)
    {
        QByteArray bytes;
        for (int i = width - 1; i >= 0; --i)
            bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
        return bytes;
    }
    // A marker with an element count, extended by an integer when it does not fit the nibble.
    static QByteArray marker(int type, std::uint64_t count)
    {
        if (count < 15)
            return QByteArray(1, static_cast<char>((type << 4) | int(count)));
        int log2 = 0;
        while (log2 < 3 && count >= (std::uint64_t{1} << (8 << log2)))
            ++log2;
        return QByteArray(1, static_cast<char>((type << 4) | 0xF)) +
               QByteArray(1, static_cast<char>(0x10 | log2)) + bigEndian(count, 1 << log2);
    }
    static QByteArray ascii(const QByteArray& text) { return marker(0x5, text.size()) + text; }
    static QByteArray utf16(const QString& text)
    {
        QByteArray bytes = marker(0x6, text.size());
        for (QChar c : text)
            bytes += bigEndian(c.unicode(), 2);
        return bytes;
    }
    static QByteArray integer(int log2Width, std::uint64_t value)
    {
        return QByteArray(1, static_cast<char>(0x10 | log2Width)) +
               bigEndian(value, 1 << log2Width);
    }
    static QByteArray integer128(std::uint64_t high, std::uint64_t low)
    {
        return QByteArray(1, '\x14') + bigEndian(high, 8) + bigEndian(low, 8);
    }
    static QByteArray real64(double value)
    {
        std::uint64_t bits;
        std::memcpy(&bits, &value, 8);
        return QByteArray(1, '\x23') + bigEndian(bits, 8);
    }
    static QByteArray real32(float value)
    {
        std::uint32_t bits;
        std::memcpy(&bits, &value, 4);
        return QByteArray(1, '\x22') + bigEndian(bits, 4);
    }
    QByteArray array(const std::vector<std::uint64_t>& refs, int type = 0xA) const
    {
        QByteArray bytes = marker(type, refs.size());
        for (std::uint64_t ref : refs)
            bytes += bigEndian(ref, m_refSize);
        return bytes;
    }
    QByteArray dict(const std::vector<std::uint64_t>& keys,
                    const std::vector<std::uint64_t>& values) const
    {
        QByteArray bytes = marker(0xD, keys.size());
        for (std::uint64_t ref : keys)
            bytes += bigEndian(ref, m_refSize);
        for (std::uint64_t ref : values)
            bytes += bigEndian(ref, m_refSize);
        return bytes;
    }

    QByteArray build(std::uint64_t top = 0) const
    {
        QByteArray out = "bplist00";
        std::vector<std::uint64_t> offsets;
        for (const QByteArray& object : m_objects) {
            offsets.push_back(out.size());
            out += object;
        }
        const std::uint64_t table = out.size();
        int offsetSize = 1;
        while (offsetSize < 8 && table >= (std::uint64_t{1} << (8 * offsetSize)))
            ++offsetSize;
        for (std::uint64_t offset : offsets)
            out += bigEndian(offset, offsetSize);
        out += QByteArray(6, '\0');
        out += static_cast<char>(offsetSize);
        out += static_cast<char>(m_refSize);
        out += bigEndian(m_objects.size(), 8) + bigEndian(top, 8) + bigEndian(table, 8);
        return out;
    }

private:
    int m_refSize;
    std::vector<QByteArray> m_objects;
};

// Trailer fields, as offsets from the end of the file.
enum TrailerField {
    OffsetSize = 26,
    RefSize = 25,
    ObjectCount = 24,
    TopObject = 16,
    TableOffset = 8
};

QByteArray withTrailerField(QByteArray file, TrailerField field, std::uint64_t value)
{
    const qsizetype at = file.size() - field;
    const int width = (field == OffsetSize || field == RefSize) ? 1 : 8;
    file.replace(at, width, BinaryPlist::bigEndian(value, width));
    return file;
}

std::uint64_t trailerField(const QByteArray& file, TrailerField field)
{
    const int width = (field == OffsetSize || field == RefSize) ? 1 : 8;
    std::uint64_t value = 0;
    for (int i = 0; i < width; ++i)
        value = (value << 8) | static_cast<std::uint8_t>(file[file.size() - field + i]);
    return value;
}

// { "totalCleanedBytes": value } with the value's object given encoded.
QByteArray binaryWithTotal(const QByteArray& valueObject)
{
    BinaryPlist plist;
    plist.add(plist.dict({1}, {2}));
    plist.add(BinaryPlist::ascii("totalCleanedBytes"));
    plist.add(valueObject);
    return plist.build();
}

TEST(PropertyListBinary, IntegerWidthsAndSigns)
{
    using P = BinaryPlist;
    const std::vector<std::pair<QByteArray, std::optional<std::int64_t>>> cases = {
        {P::integer(0, 0xC8), 200},
        {P::integer(0, 0xFF), 255},
        {P::integer(1, 0x9C40), 40000},
        {P::integer(1, 0xFFFF), 65535},
        {P::integer(2, 3000000000u), 3000000000},
        {P::integer(2, 0xFFFFFFFFu), 4294967295},
        {P::integer(3, 0xFFFFFFFFFFFFFFFFu), -1},
        {P::integer(3, 0x8000000000000000u), kInt64Min},
        {P::integer(3, 0x7FFFFFFFFFFFFFFFu), kInt64Max},
        {P::integer128(0, 4096), 4096},
        {P::integer128(~0ull, ~0ull), -1},
        {P::integer128(~0ull, 0x8000000000000000u), kInt64Min},
        {P::integer128(0, 0x7FFFFFFFFFFFFFFFu), kInt64Max},
        {P::integer128(0, 0x8000000000000000u), kNone},     // 2^63
        {P::integer128(~0ull, 0x7FFFFFFFFFFFFFFFu), kNone}, // -2^63 - 1
        {P::integer128(1, 0), kNone},
        {P::real32(2048.0f), 2048},
        {P::real32(-5.0f), -5},
        {P::real32(2048.5f), kNone},
        {P::real64(2048.0), 2048},
        {P::real64(2048.5), kNone},
        {P::real64(-9223372036854775808.0), kInt64Min},
        {P::real64(9223372036854775808.0), kNone},
        {P::real64(std::numeric_limits<double>::infinity()), kNone},
        {P::real64(std::numeric_limits<double>::quiet_NaN()), kNone},
        {QByteArray("\x33", 1) + P::bigEndian(0, 8), kNone}, // a date
        {QByteArray("\x09", 1), kNone},                      // true
        {QByteArray("\x00", 1), kNone},                      // null
        {QByteArray("\x81\x10\x00", 3), kNone},              // a UID
        {P::ascii("4096"), kNone},
    };
    for (const auto& [object, expected] : cases)
        EXPECT_EQ(parse(binaryWithTotal(object)), expected) << object.toHex().toStdString();
}

TEST(PropertyListBinary, KeysMayBeUtf16AndTheLastDuplicateWins)
{
    BinaryPlist utf16;
    utf16.add(utf16.dict({1}, {2}));
    utf16.add(BinaryPlist::utf16(QStringLiteral("totalCleanedBytes")));
    utf16.add(BinaryPlist::integer(1, 4096));
    EXPECT_EQ(parse(utf16.build()), 4096);

    BinaryPlist twice;
    twice.add(twice.dict({1, 1}, {2, 3}));
    twice.add(BinaryPlist::ascii("totalCleanedBytes"));
    twice.add(BinaryPlist::integer(0, 1));
    twice.add(BinaryPlist::integer(0, 2));
    EXPECT_EQ(parse(twice.build()), 2);

    BinaryPlist thenString;
    thenString.add(thenString.dict({1, 1}, {2, 3}));
    thenString.add(BinaryPlist::ascii("totalCleanedBytes"));
    thenString.add(BinaryPlist::integer(0, 1));
    thenString.add(BinaryPlist::ascii("2"));
    EXPECT_EQ(parse(thenString.build()), kNone);
}

TEST(PropertyListBinary, TrailerAndTableFieldsAreCheckedBeforeUse)
{
    const QByteArray good = binaryWithTotal(BinaryPlist::integer(1, 4096));
    ASSERT_EQ(parse(good), 4096);
    const std::uint64_t table = trailerField(good, TableOffset);
    const std::uint64_t huge = 0xFFFFFFFFFFFFFFFFu;

    const std::vector<QByteArray> broken = {
        withTrailerField(good, OffsetSize, 0),
        withTrailerField(good, OffsetSize, 9),
        withTrailerField(good, OffsetSize, 8), // the table would run into the trailer
        withTrailerField(good, RefSize, 0),
        withTrailerField(good, RefSize, 9),
        withTrailerField(good, RefSize, 2), // the dict's references would run past its end
        withTrailerField(good, ObjectCount, 0),
        withTrailerField(good, ObjectCount, 4),
        withTrailerField(good, ObjectCount, huge),
        withTrailerField(good, ObjectCount, 0x2000000000000001u), // * 8 wraps around
        withTrailerField(good, TopObject, 3),
        withTrailerField(good, TopObject, huge),
        withTrailerField(good, TableOffset, 0),
        withTrailerField(good, TableOffset, 8),
        withTrailerField(good, TableOffset, table + 1),
        withTrailerField(good, TableOffset, good.size()),
        withTrailerField(good, TableOffset, huge),
        withTrailerField(good, TableOffset, huge - 2),
        QByteArray(good).replace(table, 1, "\x02"), // top object's offset inside the header
        QByteArray(good).replace(table, 1, "\xff"), // beyond the objects
        QByteArray(good).replace(table + 2, 1, BinaryPlist::bigEndian(table, 1)), // at the table
        good.first(40),
        good.sliced(1),
        "bplist00",
        QByteArray("bplist00") + QByteArray(32, '\0'),
        QByteArray(good).replace(0, 8, "bplist01"), // not ours; then also not XML
    };
    for (const QByteArray& file : broken)
        EXPECT_EQ(parse(file), kNone) << file.toHex().toStdString();
}

TEST(PropertyListBinary, ObjectsAreCheckedBeforeUse)
{
    using P = BinaryPlist;
    auto withObject = [](const QByteArray& object) {
        BinaryPlist plist;
        plist.add(plist.dict({1, 3}, {2, 4}));
        plist.add(P::ascii("totalCleanedBytes"));
        plist.add(P::integer(1, 4096));
        plist.add(P::ascii("other"));
        plist.add(object);
        return plist.build();
    };
    ASSERT_EQ(parse(withObject(P::ascii("fine"))), 4096);

    const std::vector<QByteArray> broken = {
        QByteArray("\x15", 1) + QByteArray(32, '\0'), // a 32-byte integer
        QByteArray("\x21", 1) + QByteArray(2, '\0'),  // a 2-byte real
        QByteArray("\x24", 1) + QByteArray(16, '\0'), // a 16-byte real
        QByteArray("\x32", 1) + QByteArray(4, '\0'),  // a 4-byte date
        QByteArray("\x01", 1),                        // unknown simple value
        QByteArray("\x0c", 1),                        // a URL: not read
        QByteArray("\x0e", 1) + QByteArray(16, '\0'), // a UUID: not read
        QByteArray("\x70", 1),                        // unused type 7
        QByteArray("\x90", 1),                        // unused type 9
        QByteArray("\xb0", 1),                        // ordered set: not read
        QByteArray("\xe0", 1),
        QByteArray("\xf0", 1),
        QByteArray("\x5f\x14", 2) + QByteArray(16, '\0') + "abc",   // count as a 16-byte integer
        QByteArray("\x5f\x23", 2) + QByteArray(8, '\0'),            // count as a real
        QByteArray("\x5f\x13\xff\xff\xff\xff\xff\xff\xff\xff", 10), // count of 2^64-1
        QByteArray("\x5f\x13\x7f\xff\xff\xff\xff\xff\xff\xff", 10), // count past the file
        QByteArray("\x5f\x12\x00\x01\x00\x00", 6) + "x",            // 65536 bytes said, 1 given
        QByteArray("\x4f", 1),                                      // count missing
        QByteArray("\x5f\x11\x00", 3),                              // count cut short
        QByteArray("\x55", 1) + "abc",                              // 5 bytes said, 3 given
        QByteArray("\x53", 1) + "a\x80z",                           // not ASCII
        QByteArray("\x61", 1) + P::bigEndian(0xD800, 2),            // lone high surrogate
        QByteArray("\x61", 1) + P::bigEndian(0xDC00, 2),            // lone low surrogate
        QByteArray("\x62", 1) + P::bigEndian(0xD800, 2) + P::bigEndian(0x41, 2),
        QByteArray("\xa1\x05", 2), // reference to an object that does not exist
        QByteArray("\xa1\xff", 2),
        QByteArray("\xd1\x02\x02", 3), // a dict whose key is an integer
        QByteArray("\xd1\x01\x09", 3), // value reference out of range
        QByteArray("\x13\x00\x00", 3), // an 8-byte integer with 2 bytes
    };
    for (const QByteArray& object : broken)
        EXPECT_EQ(parse(withObject(object)), kNone) << object.toHex().toStdString();

    // Well-formed objects of every kind read, wherever they stand.
    const std::vector<QByteArray> fine = {
        QByteArray("\x00", 1),
        QByteArray("\x08", 1),
        QByteArray("\x09", 1),
        QByteArray("\x0f", 1),
        QByteArray("\x33", 1) + QByteArray(8, '\0'),
        QByteArray("\x43", 1) + "abc",
        QByteArray("\x40", 1),
        QByteArray("\x4f\x10\x00", 3),
        P::utf16(QStringLiteral("ö😀")),
        QByteArray("\x87", 1) + QByteArray(8, '\x01'),
        QByteArray("\xa2\x02\x02", 3),
        QByteArray("\xc1\x02", 2),
        QByteArray("\xd1\x03\x02", 3),
        QByteArray("\xaf\x10\x02\x02\x02", 5), // extended count of 2
    };
    for (const QByteArray& object : fine)
        EXPECT_EQ(parse(withObject(object)), 4096) << object.toHex().toStdString();
}

// Offsets that make objects share bytes are refused: two table entries for one object, or a
// container that lies inside another. No writer lays objects out that way, and it would let a
// small file make the reader go over the same bytes again and again.
TEST(PropertyListBinary, OverlappingObjectsAreRefused)
{
    BinaryPlist plist;
    plist.add(plist.dict({1}, {2}));
    plist.add(BinaryPlist::ascii("totalCleanedBytes"));
    plist.add(BinaryPlist::integer(1, 4096));
    plist.add(BinaryPlist::integer(1, 4096));
    const QByteArray good = plist.build();
    ASSERT_EQ(parse(good), 4096);
    const std::uint64_t table = trailerField(good, TableOffset);

    QByteArray twice = good;
    twice[table + 3] = twice[table + 2]; // index 3 points at index 2's object
    EXPECT_EQ(parse(twice), kNone);

    QByteArray inside = good;
    inside[table + 3] = static_cast<char>(inside[table + 1] + 1); // into the key's bytes
    EXPECT_EQ(parse(inside), kNone);
}

// 300 levels, each an array holding the next level twice: 2^300 paths, 301 objects. A walk
// that does not remember what it has seen would never finish.
TEST(PropertyListBinary, SharedObjectsAreWalkedOnce)
{
    BinaryPlist plist(2);
    plist.add(plist.dict({1, 3}, {2, 4}));
    plist.add(BinaryPlist::ascii("totalCleanedBytes"));
    plist.add(BinaryPlist::integer(1, 4096));
    plist.add(BinaryPlist::ascii("shared"));
    for (int level = 0; level < 300; ++level) {
        const std::uint64_t next = plist.count() + 1;
        plist.add(level == 299 ? plist.array({2, 2}) : plist.array({next, next}));
    }
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(parse(plist.build()), 4096);
    EXPECT_LT(clock.elapsed(), 1000);
}

// The depth through shared objects is that of the longest path: a 300-array chain A reached
// from the top, and again from the bottom of a second chain B, makes 1 + |B| + 300 levels; A is
// walked first, so B meets it already done and must still count its levels.
TEST(PropertyListBinary, DepthCountsTheLongestPathThroughSharedObjects)
{
    for (int second : {200, 211, 212, 300}) {
        BinaryPlist p(2);
        // 0 top, 1 key, 2 value, 3 "a", 4 "b", 5.. chain A (300), then chain B (second).
        p.add(p.dict({1, 3, 4}, {2, 5, 5 + 300}));
        p.add(BinaryPlist::ascii("totalCleanedBytes"));
        p.add(BinaryPlist::integer(1, 4096));
        p.add(BinaryPlist::ascii("a"));
        p.add(BinaryPlist::ascii("b"));
        for (int i = 0; i < 300; ++i)
            p.add(i == 299 ? p.array({}) : p.array({std::uint64_t(5 + i + 1)}));
        for (int i = 0; i < second; ++i)
            p.add(i == second - 1 ? p.array({5}) : p.array({std::uint64_t(5 + 300 + i + 1)}));
        // Levels: top 1, chain B from 2 to second + 1, then chain A's 300.
        const int levels = 1 + second + 300;
        EXPECT_EQ(parse(p.build()), levels <= 512 ? std::optional<std::int64_t>(4096) : kNone)
            << "levels " << levels;
    }
}

QByteArray binaryNestedArrays(int arrays)
{
    BinaryPlist plist(4);
    plist.add(plist.dict({1, 3}, {2, 4}));
    plist.add(BinaryPlist::ascii("totalCleanedBytes"));
    plist.add(BinaryPlist::integer(0, 1));
    plist.add(BinaryPlist::ascii("nest"));
    for (int i = 0; i < arrays; ++i)
        plist.add(i == arrays - 1 ? plist.array({}) : plist.array({std::uint64_t(4 + i + 1)}));
    return plist.build();
}

TEST(PropertyListBinary, NestingLimitIs512Levels)
{
    EXPECT_EQ(parse(binaryNestedArrays(511)), 1);
    EXPECT_EQ(parse(binaryNestedArrays(512)), kNone);
}

TEST(PropertyListBinary, HundredThousandLevelsFailWithoutCrashing)
{
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(parse(binaryNestedArrays(100000)), kNone);
    EXPECT_LT(clock.elapsed(), 5000);
}

TEST(PropertyListBinary, ReferenceCyclesAreRefused)
{
    // An array holding itself.
    BinaryPlist self;
    self.add(self.dict({1, 3}, {2, 4}));
    self.add(BinaryPlist::ascii("totalCleanedBytes"));
    self.add(BinaryPlist::integer(0, 1));
    self.add(BinaryPlist::ascii("loop"));
    self.add(self.array({4}));
    EXPECT_EQ(parse(self.build()), kNone);

    // A longer loop of arrays, sets and dicts.
    BinaryPlist ring;
    ring.add(ring.dict({1, 3}, {2, 4}));
    ring.add(BinaryPlist::ascii("totalCleanedBytes"));
    ring.add(BinaryPlist::integer(0, 1));
    ring.add(BinaryPlist::ascii("loop"));
    ring.add(ring.array({5}));
    ring.add(ring.array({6}, 0xC));
    ring.add(ring.dict({3}, {4}));
    EXPECT_EQ(parse(ring.build()), kNone);

    // A loop that the top object does not reach.
    BinaryPlist apart;
    apart.add(apart.dict({1}, {2}));
    apart.add(BinaryPlist::ascii("totalCleanedBytes"));
    apart.add(BinaryPlist::integer(0, 1));
    apart.add(apart.array({4}));
    apart.add(apart.array({3}));
    EXPECT_EQ(parse(apart.build()), kNone);
}

TEST(PropertyListBinary, LargeFileIsReadInOnePass)
{
    // One array of 1,000,000 references to one shared object, and 300,000 small dicts.
    BinaryPlist plist(4);
    plist.add(plist.dict({1, 3, 5}, {2, 4, 6}));
    plist.add(BinaryPlist::ascii("totalCleanedBytes"));
    plist.add(BinaryPlist::integer(2, 3000000000u));
    plist.add(BinaryPlist::ascii("many"));
    plist.add(plist.array(std::vector<std::uint64_t>(1000000, 2)));
    plist.add(BinaryPlist::ascii("dicts"));
    std::vector<std::uint64_t> dicts;
    for (int i = 0; i < 300000; ++i)
        dicts.push_back(7 + std::uint64_t(i));
    plist.add(plist.array(dicts));
    for (int i = 0; i < 300000; ++i)
        plist.add(plist.dict({1}, {2}));
    const QByteArray file = plist.build();
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(parse(file), 3000000000);
    EXPECT_LT(clock.elapsed(), 20000) << "took " << clock.elapsed() << " ms for " << file.size();
}

// ---------------------------------------------------------------------------------------------
// Numbers under a locale whose decimal separator is a comma.

class PropertyListUnderGermanLocale : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_savedCLocale = std::setlocale(LC_ALL, nullptr);
        m_savedQtLocale = QLocale();
        const char* set = std::setlocale(LC_ALL, "de_DE.UTF-8");
        ASSERT_NE(set, nullptr)
            << "The locale de_DE.UTF-8 is not available, so the decimal-comma test cannot run. "
               "Generate it: apt-get install -y locales; "
               "sed -i 's/^# *de_DE.UTF-8/de_DE.UTF-8/' /etc/locale.gen; locale-gen "
               "(scripts/install-deps.sh does this).";
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        // Make sure the trap is really set: the C library and Qt now read "2048,5".
        ASSERT_STREQ(std::localeconv()->decimal_point, ",");
        ASSERT_EQ(std::strtod("2048,5", nullptr), 2048.5);
        ASSERT_EQ(QLocale().decimalPoint(), QStringLiteral(","));
    }
    void TearDown() override
    {
        std::setlocale(LC_ALL, m_savedCLocale.c_str());
        QLocale::setDefault(m_savedQtLocale);
    }

private:
    std::string m_savedCLocale;
    QLocale m_savedQtLocale;
};

TEST_F(PropertyListUnderGermanLocale, RealsAreReadWithAPointWhateverTheLocale)
{
    EXPECT_EQ(parse(readFixture(QStringLiteral("real_2048_0.xml"))), 2048);
    EXPECT_EQ(parse(readFixture(QStringLiteral("real_2048_0.bplist"))), 2048);
    EXPECT_EQ(parse(readFixture(QStringLiteral("real_2048_5.xml"))), kNone);
    EXPECT_EQ(parse(readFixture(QStringLiteral("real_2048_5.bplist"))), kNone);
    EXPECT_EQ(parse(xmlWithTotal("<real>2.048e3</real>")), 2048);
    EXPECT_EQ(parse(xmlWithTotal("<real>2048,0</real>")), kNone);
    EXPECT_EQ(parse(xmlWithTotal("<real>2048,5</real>")), kNone);
    EXPECT_EQ(parse(xmlWithTotal("<integer>4096</integer>")), 4096);
    EXPECT_EQ(parse(xmlWithTotal("<integer>4.096</integer>")), kNone);
}

TEST(PropertyListNumbers, WholeNumberFromReal)
{
    using kmb::plist::wholeNumberFromReal;
    EXPECT_EQ(wholeNumberFromReal(0.0), 0);
    EXPECT_EQ(wholeNumberFromReal(-0.0), 0);
    EXPECT_EQ(wholeNumberFromReal(2048.0), 2048);
    EXPECT_EQ(wholeNumberFromReal(-2048.0), -2048);
    EXPECT_EQ(wholeNumberFromReal(2048.5), kNone);
    EXPECT_EQ(wholeNumberFromReal(-9223372036854775808.0), kInt64Min);
    EXPECT_EQ(wholeNumberFromReal(9223372036854775808.0), kNone);
    EXPECT_EQ(wholeNumberFromReal(std::nextafter(9223372036854775808.0, 0.0)), 9223372036854774784);
    EXPECT_EQ(wholeNumberFromReal(std::nextafter(-9223372036854775808.0, -1e300)), kNone);
    EXPECT_EQ(wholeNumberFromReal(std::numeric_limits<double>::infinity()), kNone);
    EXPECT_EQ(wholeNumberFromReal(-std::numeric_limits<double>::infinity()), kNone);
    EXPECT_EQ(wholeNumberFromReal(std::numeric_limits<double>::quiet_NaN()), kNone);
    EXPECT_EQ(wholeNumberFromReal(std::numeric_limits<double>::denorm_min()), kNone);
}

} // namespace
