// The XML encoding: documents, numbers under any locale (another writer's: PropertyListTest).

#include "status/PropertyList.h"

#include <QLocale>
#include <clocale>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

using Total = std::optional<std::int64_t>;
constexpr Total none;
const QByteArray key = "<key>totalCleanedBytes</key>";
const QByteArray total7 = key + "<integer>7</integer>";
const auto parse = kmb::totalCleanedBytesFromPropertyList;

// The total as a number element.
QByteArray number(const char* element, const QByteArray& text)
{
    const QByteArray name = element;
    return "<dict>" + key + "<" + name + ">" + text + "</" + name + "></dict>";
}

// The top dict holding `arrays` nested arrays beside the total.
QByteArray nested(int arrays)
{
    return "<plist><dict>" + total7 + "<key>n</key>" + QByteArray("<array>").repeated(arrays) +
           QByteArray("</array>").repeated(arrays) + "</dict></plist>";
}

TEST(PropertyListXml, DocumentsNumbersAndNesting)
{
    const struct {
        QByteArray xml;
        Total total;
    } documents[] = {
        {"<plist><dict>" + total7 + "</dict></plist>", 7},
        {"<dict>" + total7 + "</dict>", 7},
        {"\xef\xbb\xbf<dict>" + total7 + "</dict>", 7}, // byte order mark
        {"<!-- c --><?pi x?><dict><!-- c -->" + total7 + "<?pi?></dict><!-- after -->", 7},
        {"<dict>" + key + "<integer>1</integer>" + total7 + "</dict>", 7}, // the last one
        {"<dict>" + total7 + "<key>big</key><integer>99999999999999999999999</integer></dict>", 7},
        {"<dict>" + total7 +
             "<key>a</key><array><true/><false></false><date>2024-05-17T09:30:00Z</date></array>"
             "<key>b</key><array><data>AAEC AwQ=</data><data></data><string/><dict/></array>"
             "<key>c</key><real>nan</real><key>d</key><date>2024Z</date></dict>",
         7},
        {"<dict>" + total7 + key + "<string>2</string></dict>", none},
        {"<dict><key>n</key><dict>" + total7 + "</dict></dict>", none},
        {"<dict><key> totalCleanedBytes</key><integer>7</integer></dict>", none},
        {"<plist/>", none},
        {"<plist><dict/><dict/></plist>", none},
        {"<dict>" + total7 + "<key>dangling</key></dict>", none},
        {"<dict>" + total7 + "<integer>8</integer></dict>", none},
        {"<dict>" + total7 + "text</dict>", none},
        {"<dict>" + total7 + "<key>x</key><foo/></dict>", none},
        {"<dict>" + total7 + "<key>x</key><true>1</true></dict>", none},
        {"<dict>" + total7 + "<key>x</key><date>2024-05-17</date></dict>", none},
        {"<dict>" + total7 + "<key>x</key><data>not base64!</data></dict>", none},
        {"<dict>" + total7 + "<key>x</key><string><b/></string></dict>", none},
        {"<x:dict xmlns:x=\"urn:x\">" + total7 + "</x:dict>", none},
        {"<plist><plist><dict>" + total7 + "</dict></plist></plist>", none},
        {"<!DOCTYPE plist [<!ENTITY a \"7\">]><plist><dict>" + key +
             "<integer>&a;</integer></dict></plist>",
         none},
        // Numbers; 9223372036854775807.0 is 2^63 as a double.
        {number("integer", "+4096"), 4096},
        {number("integer", " \n\t7\r\n "), 7},
        {number("integer", "-9223372036854775809"), none},
        {number("integer", "18446744073709551616"), none},
        {number("integer", ""), none},
        {number("integer", "1 000"), none},
        {number("integer", "\xd9\xa4"), none}, // an Arabic-Indic four
        {number("real", "2048"), 2048},
        {number("real", "+2048.000"), 2048},
        {number("real", "2.048E+3"), 2048},
        {number("real", ".2048e4"), 2048},
        {number("real", "9223372036854775807.0"), none},
        {number("real", "1e400"), none},
        {number("real", "-inf"), none},
        {number("real", ""), none},
        {number("real", "0x1p11"), none},
        // The top dict is level 1; 512 levels are the most allowed.
        {nested(511), 7},
        {nested(512), none},
        {nested(100000), none},
    };
    for (const auto& document : documents)
        EXPECT_EQ(parse(document.xml), document.total) << document.xml.left(200).toStdString();
}

// Numbers are read with a point whatever the locale: Qt's default and the C library's.
TEST(PropertyListXml, DecimalCommaLocale)
{
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    const bool cLibrary = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const double trap = std::strtod("2048,5", nullptr);
    std::vector<Total> read;
    for (const char* real : {"2048.0", "2.048e3", "2048.5", "2048,0"})
        read.push_back(parse(number("real", real)));
    std::setlocale(LC_ALL, saved.c_str());
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(read, (std::vector<Total>{2048, 2048, none, none}));
    if (!cLibrary)
        GTEST_SKIP() << "de_DE.UTF-8 is not installed (locale-gen de_DE.UTF-8): only Qt's "
                        "default locale had a decimal comma";
    EXPECT_EQ(trap, 2048.5) << "the C library's locale did not take";
}

} // namespace
