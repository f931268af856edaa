// History files of both encodings from another writer, and files cut short. Each stem.xml and
// stem.bplist in tests/fixtures/history was written by Python's plistlib.dumps(value,
// fmt=FMT_XML or FMT_BINARY), value being {"totalCleanedBytes": v} or the top level that the
// .xml shows; what no writer makes is assembled by PropertyListXmlTest and PropertyListBinaryTest.

#include "status/PropertyList.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

using Total = std::optional<std::int64_t>;
constexpr Total none;

QByteArray fixture(const std::string& name)
{
    QFile file(QStringLiteral(KMB_FIXTURES_DIR "/history/") + QString::fromStdString(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

TEST(PropertyList, FilesOfAnotherWriterInBothEncodings)
{
    const struct {
        const char* stem;
        Total total;
    } files[] = {
        {"realistic_history", 123456789},
        {"int_negative_5", -5},
        {"int_200_one_byte", 200}, // 1-, 2- and 4-byte binary integers are unsigned
        {"int_3000000000_four_bytes", 3000000000},
        {"int_min", INT64_MIN},
        {"int_max", INT64_MAX},
        {"int_2pow63", none}, // a 16-byte binary integer
        {"real_2048_0", 2048},
        {"real_min", INT64_MIN},
        {"real_largest_below_2pow63", 9223372036854774784},
        {"real_2048_5", none},
        {"real_nan", none},
        {"string_1024", none},
        {"missing_key", none}, // has "totalcleanedbytes"
        {"unicode_neighbour_key", 77},
        {"top_level_array", none},
    };
    for (const auto& file : files) {
        for (const char* extension : {".xml", ".bplist"}) {
            const std::string name = file.stem + std::string(extension);
            EXPECT_EQ(kmb::totalCleanedBytesFromPropertyList(fixture(name)), file.total) << name;
        }
    }
}

// Every proper prefix of a valid file is broken (XML up to "</plist>": only the trailing
// newline may go).
TEST(PropertyList, TruncatedFiles)
{
    for (const char* name :
         {"realistic_history.xml", "realistic_history.bplist", "int_max.bplist"}) {
        const QByteArray whole = fixture(name);
        const qsizetype end =
            whole.startsWith("<?xml") ? whole.lastIndexOf("</plist>") + 8 : whole.size();
        ASSERT_NE(kmb::totalCleanedBytesFromPropertyList(whole.first(end)), none) << name;
        for (qsizetype length = 0; length < end; ++length)
            EXPECT_EQ(kmb::totalCleanedBytesFromPropertyList(whole.first(length)), none)
                << name << " cut to " << length;
    }
}

} // namespace
