#pragma once

#include <QLocale>
#include <QString>
#include <cstdint>

namespace kmb {

// Disk sizes: units of 1,000 bytes ("1.50 GB" for 1,500,000,000). Every value is shown,
// negative ones with a minus sign.
QString formatFileBytes(std::int64_t bytes, const QLocale& locale = QLocale());

// Memory sizes: units of 1,024 bytes with the same unit names ("1.40 GB" for 1,500,000,000).
// Counts of 2^63 and more are shown as well.
QString formatMemoryBytes(std::uint64_t bytes, const QLocale& locale = QLocale());

} // namespace kmb
