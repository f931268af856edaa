#include "menubar/LowDiskSpaceRule.h"

#include <QDate>
#include <ctime>

namespace kmb {

bool isLowDiskSpace(bool volumeSampled, std::int64_t availableBytes, std::int64_t totalBytes)
{
    return volumeSampled && totalBytes > 0 && availableBytes >= 0 &&
           availableBytes <= lowDiskSpaceLimitBytes;
}

QString currentDayString()
{
    // Pick up a time zone changed since the last call.
    tzset();
    const QDate today = QDate::currentDate();
    return QString::asprintf("%04d-%02d-%02d", today.year(), today.month(), today.day());
}

} // namespace kmb
