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

QByteArray be(std::uint64_t value, int width)
{
    QByteArray bytes;
    for (int i = width - 1; i >= 0; --i)
        bytes += char((value >> (8 * i)) & 0xFF);
    return bytes;
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

// (Values another writer makes are PropertyListTest's fixtures.) 16-byte integers are signed
// and count when they fit in 64 bits; 4-byte reals.
TEST(PropertyListBinary, Values)
{
    const struct {
        QByteArray object;
        Total total;
    } values[] = {
        {hex("14 ffffffffffffffff 8000000000000000"), INT64_MIN},
        {hex("14 0000000000000000 7fffffffffffffff"), INT64_MAX},
        {hex("14 ffffffffffffffff 7fffffffffffffff"), none},
        {hex("22 c0a00000"), -5},
    };
    for (const auto& value : values)
        EXPECT_EQ(parse(bplist({hex("d1 01 02"), key, value.object})), value.total)
            << value.object.toHex().toStdString();
}

TEST(PropertyListBinary, StructureIsCheckedBeforeUse)
{
    const QByteArray good = bplist({hex("d1 01 02"), key, hex("11 1000")});
    const std::uint64_t table = good.size() - 32 - 3;
    ASSERT_EQ(parse(good), 4096);
    // Trailer fields out of range (bytes from the end): offset size 26, reference size 25, object
    // count 24 (the last one wraps when multiplied by 8), top object 16, table offset 8.
    const struct {
        int fromEnd, width;
        std::uint64_t value;
    } trailer[] = {{26, 1, 0},
                   {26, 1, 9},
                   {26, 1, 8},
                   {25, 1, 0},
                   {25, 1, 9},
                   {25, 1, 2},
                   {24, 8, 0},
                   {24, 8, 4},
                   {24, 8, 1ull << 61 | 1},
                   {16, 8, 3},
                   {8, 8, 8},
                   {8, 8, table + 1},
                   {8, 8, table + 3 + 32}};
    for (const auto& f : trailer)
        EXPECT_EQ(
            parse(QByteArray(good).replace(good.size() - f.fromEnd, f.width, be(f.value, f.width))),
            none)
            << f.fromEnd << " " << f.value;
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

TEST(PropertyListBinary, KeysAndReferences)
{
    const auto utf16Key = [](const char16_t* text) {
        return hex("6f 10 11") + QStringEncoder(QStringEncoder::Utf16BE)(QStringView(text));
    };
    EXPECT_EQ(parse(bplist({hex("d1 01 02"), utf16Key(u"totalCleanedBytes"), hex("10 09")})), 9);
    EXPECT_EQ(parse(bplist({hex("d2 01 01 02 03"), key, hex("10 01"), hex("10 02")})), 2);
    QByteArray twice = bplist({hex("d1 01 02"), key, hex("11 1000"), hex("11 1000")});
    twice[twice.size() - 32 - 1] = twice[twice.size() - 32 - 2];
    const struct {
        const char* what;
        QByteArray file;
    } files[] = {
        {"the last of two keys not a number",
         bplist({hex("d2 01 01 02 03"), key, hex("10 01"), hex("51 32")})},
        {"a UTF-16 key that differs in its first letter",
         bplist({hex("d1 01 02"), utf16Key(u"TotalCleanedBytes"), hex("10 09")})},
        {"two table entries for one object", twice},
        {"a loop through an array, a set and a dict",
         bplist({hex("d2 01 03 02 04"), key, hex("10 01"), hex("54") + "loop", hex("a1 05"),
                 hex("c1 06"), hex("d1 03 04")})},
        {"a loop the top does not reach",
         bplist({hex("d1 01 02"), key, hex("10 01"), hex("a1 04"), hex("a1 03")})},
    };
    for (const auto& file : files)
        EXPECT_EQ(parse(file.file), none) << file.what;
}

const auto ascii = [](const QByteArray& text) { return char(0x50 | text.size()) + text; };

// `arrays` nested in each other under the top dict's second key; 4-byte references.
QByteArray nested(int arrays)
{
    std::vector<QByteArray> objects = {hex("d2 00000001 00000003 00000002 00000004"), key,
                                       hex("10 01"), ascii("n")};
    for (int i = 0; i < arrays; ++i)
        objects.push_back(i == arrays - 1 ? hex("a0") : hex("a1") + be(5 + i, 4));
    return bplist(objects, 4);
}

// Shared objects, 2-byte references. 300 levels, each an array holding the next one twice:
// 2^300 paths through 301 objects.
QByteArray doubledLevels()
{
    std::vector<QByteArray> objects = {hex("d2 0001 0003 0002 0004"), key, hex("11 1000"),
                                       ascii("s")};
    for (int i = 0; i < 300; ++i)
        objects.push_back(hex("a2") + be(i == 299 ? 2 : 5 + i, 2).repeated(2));
    return bplist(objects, 2);
}

// The top dict is level 1; 512 levels are the most allowed.
TEST(PropertyListBinary, Nesting)
{
    EXPECT_EQ(parse(nested(511)), 1);
    EXPECT_EQ(parse(doubledLevels()), 4096);
    for (const QByteArray& file : {nested(512), nested(100000)})
        EXPECT_EQ(parse(file), none) << file.left(100).toHex().toStdString();
}

} // namespace
