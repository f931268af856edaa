#pragma once

#include <QStringView>
#include <cstdint>
#include <optional>

// The text of the XML property list's leaf elements, checked wherever the leaf stands (not
// only under "totalCleanedBytes"):
// - <integer>: optional XML white space around an optional sign and decimal digits (no hex).
//   Out-of-range values are well-formed but do not count.
// - <real>: white space around a decimal number (digits with an optional point and exponent)
//   or one of inf, infinity, infty, nan (any case, optionally signed). Parsed with
//   std::from_chars, which never looks at the locale.
// - <date>: YYYY[-MM[-DD[Thh[:mm[:ss]]]]]Z, the form Python's plistlib takes (the original
//   writer writes the full form).
// - <data>: Base64 letters, '=' and white space (the padding is not checked, as neither the
//   original reader nor Python's checks it).
// - <true/>, <false/>: nothing but white space inside.
namespace kmb::plist::xmlleaf {

// A leaf's text: well-formed or not, and the whole number it stands for, if any.
struct LeafNumber {
    bool wellFormed = false;
    std::optional<std::int64_t> value;
};

bool isAllXmlSpace(QStringView text);
LeafNumber parseInteger(QStringView raw);
LeafNumber parseReal(QStringView raw);
bool isPropertyListDate(QStringView text);
bool isBase64Text(QStringView text);

} // namespace kmb::plist::xmlleaf
