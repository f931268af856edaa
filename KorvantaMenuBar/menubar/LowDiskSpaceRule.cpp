#include "menubar/LowDiskSpaceRule.h"

#include <QDate>
#include <ctime>

namespace kmb {

bool isLowDiskSpace(bool volumeSampled, std::int64_t availableBytes, std::int64_t totalBytes)
{
    return volumeSampled && totalBytes > 0 && availableBytes >= 0 &&
           availableBytes <= lowDiskSpaceLimitBytes;
}

QString dayString(const QDate& date)
{
    return QString::asprintf("%04d-%02d-%02d", date.year(), date.month(), date.day());
}

QString currentDayString()
{
    // Pick up a time zone changed since the last call.
    tzset();
    return dayString(QDate::currentDate());
}

} // namespace kmb
