#pragma once

#include <QDate>
#include <QString>
#include <cstdint>

namespace kmb {

// Free space below 50,000,000,000 bytes (decimal gigabytes) counts as low.
inline constexpr std::int64_t lowDiskSpaceLimitBytes = 49'999'999'999;

// Whether the home volume is short of space. Zero free bytes is a full disk, not a
// missing reading: that is told apart by whether the volume was ever sampled.
bool isLowDiskSpace(bool volumeSampled, std::int64_t availableBytes, std::int64_t totalBytes);

// A day as the day record holds it: "yyyy-MM-dd" in ASCII digits, whatever the locale.
QString dayString(const QDate& date);

// The local calendar day as dayString() writes it, following changes of the clock and of the
// time zone (TZ) while the process runs.
QString currentDayString();

} // namespace kmb
