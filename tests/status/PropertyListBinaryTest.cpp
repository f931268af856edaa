// The binary encoding on files no writer makes: values, a lying structure, keys, cycles, nesting.

#include "status/PropertyList.h"

#include <QStringEncoder>
#include <bit>
#include <gtest/gtest.h>
#include <vector>

namespace {

using Total = std::optional<std::int64_t>;
constexpr Total none;
const auto parse = kmb::totalCleanedBytesFromPropertyList;
const auto hex = [](const char* bytes) { return QByteArray::fromHex(bytes); };
const auto zeros = [](int count) { return QByteArray(count, '\0'); };

// The last `width` bytes of `value`, big-endian.
QByteArray be(std::uint64_t value, int width)
{
    return QByteArray::fromHex(QByteArray::number(value, 16).rightJustified(16, '0')).right(width);
}

const QByteArray key = hex("5f 10 11") + "totalCleanedBytes";

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
    return out + zeros(6) + char(width) + char(refWidth) + be(objects.size(), 8) + be(0, 8) +
           be(table, 8);
}

TEST(PropertyListBinary, StructureIsCheckedBeforeUse)
{
    const QByteArray good = bplist({hex("d1 01 02"), key, hex("11 1000")});
    const std::uint64_t table = good.size() - 32 - 3, wraps = 1ull << 61 | 1;
    ASSERT_EQ(parse(good), 4096);
    // Trailer fields out of range (bytes from the end): offset size 26, reference size 25, object
    // count 24 (`wraps` when multiplied by 8), top object 16, table offset 8.
    const struct {
        int fromEnd, width;
        std::uint64_t value;
    } trailer[] = {{26, 1, 0}, {26, 1, 9},        {26, 1, 8},        {25, 1, 0},     {25, 1, 9},
                   {25, 1, 2}, {24, 8, 0},        {24, 8, 4},        {24, 8, wraps}, {16, 8, 3},
                   {8, 8, 8},  {8, 8, table + 1}, {8, 8, table + 35}};
    for (const auto& f : trailer) {
        const QByteArray field = be(f.value, f.width);
        EXPECT_EQ(parse(QByteArray(good).replace(good.size() - f.fromEnd, f.width, field)), none)
            << f.fromEnd << " " << f.value;
    }
    // Table entries in the header, beyond the objects, at the table; another version.
    for (const QByteArray& file :
         {QByteArray(good).replace(table, 1, "\x02"), QByteArray(good).replace(table, 1, "\xff"),
          QByteArray(good).replace(table + 2, 1, be(table, 1)),
          QByteArray(good).replace(0, 8, "bplist01")})
        EXPECT_EQ(parse(file), none) << file.toHex().toStdString();

    // Beside the total and a key "other", an object of another type.
    const QByteArray spoiling[] = {
        // sizes no type has, unknown markers
        hex("15") + zeros(32), hex("21") + zeros(2), hex("32") + zeros(4), hex("0c"), hex("70"),
        hex("f0"),
        // counts that are no 1- to 8-byte integer or reach beyond the objects area, objects too
        hex("5f 14") + zeros(16), hex("5f 23") + zeros(8), hex("5f 13 ffffffffffffffff"), hex("4f"),
        hex("5f 11") + zeros(1), hex("54 616263"), hex("87") + zeros(7),
        // texts: a byte above ASCII, unpaired surrogates
        hex("53 61807a"), hex("61 d800"), hex("61 dc00"),
        // references to no object, a key that is no string
        hex("a1 05"), hex("d1 0202"), hex("d1 0109")};
    const QByteArray harmless[] = {// null, false, true, fill, a date, data, UTF-16 text, a UID
                                   hex("00"), hex("08"), hex("09"), hex("0f"), hex("33") + zeros(8),
                                   hex("43 616263"), hex("63 00f6 d83d de00"), hex("87") + zeros(8),
                                   // arrays, a set, a dict
                                   hex("a2 0202"), hex("af 10 02 0202"), hex("c1 02"),
                                   hex("d1 03 02")};
    const auto beside = [](const QByteArray& object) {
        return bplist({hex("d2 01 03 02 04"), key, hex("11 1000"), hex("55") + "other", object});
    };
    for (const QByteArray& object : spoiling)
        EXPECT_EQ(parse(beside(object)), none) << object.toHex().toStdString();
    for (const QByteArray& object : harmless)
        EXPECT_EQ(parse(beside(object)), 4096) << object.toHex().toStdString();
}

// (Values another writer makes are PropertyListTest's fixtures.)
TEST(PropertyListBinary, ValuesKeysAndReferences)
{
    const auto withTotal = [](const QByteArray& value) {
        return bplist({hex("d1 01 02"), key, value});
    };
    const auto utf16Key = [](const char16_t* text) {
        return hex("6f 10 11") + QStringEncoder(QStringEncoder::Utf16BE)(QStringView(text));
    };
    QByteArray twice = bplist({hex("d1 01 02"), key, hex("11 1000"), hex("11 1000")});
    twice[twice.size() - 32 - 1] = twice[twice.size() - 32 - 2];
    const struct {
        const char* what;
        QByteArray file;
        Total total;
    } files[] = {
        {"16-byte integers are signed", withTotal(hex("14 ffffffffffffffff 8000000000000000")),
         INT64_MIN},
        {"and count when they fit in 64 bits",
         withTotal(hex("14 0000000000000000 7fffffffffffffff")), INT64_MAX},
        {"a 16-byte integer beyond", withTotal(hex("14 ffffffffffffffff 7fffffffffffffff")), none},
        {"a 4-byte real", withTotal(hex("22 c0a00000")), -5},
        {"a UTF-16 key", bplist({hex("d1 01 02"), utf16Key(u"totalCleanedBytes"), hex("10 09")}),
         9},
        {"the last of two keys", bplist({hex("d2 01 01 02 03"), key, hex("10 01"), hex("10 02")}),
         2},
        {"the last of two keys not a number",
         bplist({hex("d2 01 01 02 03"), key, hex("10 01"), hex("51 32")}), none},
        {"a UTF-16 key that differs in its first letter",
         bplist({hex("d1 01 02"), utf16Key(u"TotalCleanedBytes"), hex("10 09")}), none},
        {"two table entries for one object", twice, none},
        {"a loop through an array, a set and a dict",
         bplist({hex("d2 01 03 02 04"), key, hex("10 01"), hex("54") + "loop", hex("a1 05"),
                 hex("c1 06"), hex("d1 03 04")}),
         none},
        {"a loop the top does not reach",
         bplist({hex("d1 01 02"), key, hex("10 01"), hex("a1 04"), hex("a1 03")}), none},
    };
    for (const auto& file : files)
        EXPECT_EQ(parse(file.file), file.total) << file.what;
}

// `levels` arrays under the top dict's second key, each holding the next one, or (`twice`)
// holding it twice: 2^levels paths through shared objects. 4-byte references.
QByteArray nested(int levels, bool twice = false)
{
    std::vector<QByteArray> objects = {hex("d2 00000001 00000003 00000002 00000004"), key,
                                       hex("11 1000"), hex("51") + "n"};
    for (int i = 0; i < levels - 1; ++i)
        objects.push_back(hex(twice ? "a2" : "a1") + be(5 + i, 4).repeated(twice ? 2 : 1));
    objects.push_back(hex("a0"));
    return bplist(objects, 4);
}

// The top dict is level 1; 512 levels are the most allowed.
TEST(PropertyListBinary, Nesting)
{
    EXPECT_EQ(parse(nested(511)), 4096);
    EXPECT_EQ(parse(nested(300, true)), 4096);
    for (const QByteArray& file : {nested(512), nested(100000)})
        EXPECT_EQ(parse(file), none) << file.left(100).toHex().toStdString();
}

} // namespace
