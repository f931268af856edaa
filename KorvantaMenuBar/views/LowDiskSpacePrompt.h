#pragma once

#include <QString>
#include <cstdint>

namespace kmb {

// The prompt's headline, its hint and its open button's label, also used where the warning
// comes as a desktop notification.
QString lowDiskPromptHeadline();
QString lowDiskPromptHint();
QString lowDiskPromptOpenLabel();

// "可用： 12.34 GB": free space in decimal gigabytes, two decimals, never below zero.
QString promptAvailableText(std::int64_t availableBytes);

// Share of the volume in use, as the usage bar shows it: 0.9 when the capacity is unknown,
// otherwise held between 0.06 and 0.96 so the bar never looks empty or full.
double promptUsageFraction(std::int64_t availableBytes, std::int64_t totalBytes);

// Width of the bar's coloured part in a track of trackWidth: never narrower than 10.
double promptFillWidth(double trackWidth, double fraction);

} // namespace kmb
