#include "status/PropertyList.h"

#include <cmath>

namespace kmb {

namespace {
constexpr char kBinaryMagic[] = "bplist00";
constexpr qsizetype kBinaryMagicSize = sizeof(kBinaryMagic) - 1;
} // namespace

std::optional<std::int64_t> totalCleanedBytesFromPropertyList(QByteArrayView bytes)
{
    if (bytes.startsWith(QByteArrayView(kBinaryMagic, kBinaryMagicSize)))
        return plist::totalCleanedBytesFromBinary(bytes);
    return plist::totalCleanedBytesFromXml(bytes);
}

namespace plist {

std::optional<std::int64_t> wholeNumberFromReal(double value)
{
    // -2^63 and 2^63 are exact doubles; 2^63 itself is already outside the range, and so is
    // every double that compares >= to it. NaN fails both comparisons.
    constexpr double kLow = -9223372036854775808.0;
    constexpr double kHigh = 9223372036854775808.0;
    if (!(value >= kLow && value < kHigh))
        return std::nullopt;
    if (std::trunc(value) != value)
        return std::nullopt;
    return static_cast<std::int64_t>(value);
}

} // namespace plist
} // namespace kmb
