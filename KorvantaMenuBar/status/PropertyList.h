#pragma once

#include <QByteArrayView>
#include <cstdint>
#include <optional>

// Reading Korvanta's cleanup-history total out of a property list.
//
// Our own reader, not libplist: it handles the two standard encodings, XML and binary
// "bplist00", never recurses, bounds every read, and does work linear in the input's size, so
// that any bytes at all (a fuzzer's included) give an answer quickly and without a crash.
//
// What counts: the whole input must be a well-formed property list whose top level is a
// dictionary with string keys, holding under "totalCleanedBytes" (the last one, if the key is
// there twice) an integer in the signed 64-bit range, or a real that is finite, whole and in
// that range. Everything else (another type, a missing key, another top level, a parse failure
// of any part of the file, nesting deeper than kMaxNestingLevels) gives no total.
namespace kmb {

// Containers nested in each other: the top-level dictionary is level 1. Deeper is a failure.
inline constexpr int kMaxNestingLevels = 512;

// The total, or nullopt when the bytes give none (for the reasons above); the caller decides
// what "none" reads as (CleanupHistoryReader makes it 0). Detects the encoding by itself:
// input that starts with "bplist00" is binary, anything else is parsed as XML.
std::optional<std::int64_t> totalCleanedBytesFromPropertyList(QByteArrayView bytes);

namespace plist {

// The same for one encoding only (no detection).
std::optional<std::int64_t> totalCleanedBytesFromXml(QByteArrayView bytes);
std::optional<std::int64_t> totalCleanedBytesFromBinary(QByteArrayView bytes);

// A real's whole value: finite, without a fraction and in [-2^63, 2^63); otherwise nullopt.
std::optional<std::int64_t> wholeNumberFromReal(double value);

} // namespace plist
} // namespace kmb
