#include "views/ByteFormatting.h"

#include <cmath>
#include <limits>

namespace kmb {

namespace {

constexpr int precision = 2;

// Qt takes the absolute value of the count, which overflows for the most negative one.
// One byte less is indistinguishable at that size.
qint64 formattable(std::int64_t bytes)
{
    return bytes == std::numeric_limits<std::int64_t>::min() ? -std::numeric_limits<qint64>::max()
                                                             : qint64(bytes);
}

} // namespace

QString formatFileBytes(std::int64_t bytes, const QLocale& locale)
{
    return locale.formattedDataSize(formattable(bytes), precision, QLocale::DataSizeSIFormat);
}

QString formatMemoryBytes(std::uint64_t bytes, const QLocale& locale)
{
    constexpr auto format = QLocale::DataSizeTraditionalFormat;
    // 2^63 - 1 reads "8.00 EB" in either branch, in every locale.
    if (bytes <= std::uint64_t(std::numeric_limits<qint64>::max())) // mutate: ignore
        return locale.formattedDataSize(qint64(bytes), precision, format);
    // Beyond the signed range: everything from 2^63 on is in the exbibyte range. Borrow the
    // locale's text for 1 EiB and put our own figure in place of its number.
    constexpr qint64 oneExbibyte = qint64(1) << 60;
    QString text = locale.formattedDataSize(oneExbibyte, precision, format);
    const QString one = locale.toString(1.0, 'f', precision);
    const qsizetype at = text.indexOf(one);
    if (at < 0)
        // Never taken: every locale of Qt 6.4 writes its "1.00" in the 1 EiB text.
        return locale.formattedDataSize(std::numeric_limits<qint64>::max(), // mutate: ignore
                                        precision, format);
    const double amount = double(bytes) / double(oneExbibyte);
    return text.replace(at, one.size(), locale.toString(amount, 'f', precision));
}

} // namespace kmb
