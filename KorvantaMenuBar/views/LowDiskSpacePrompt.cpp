#include "views/LowDiskSpacePrompt.h"

#include <QCoreApplication>
#include <algorithm>

namespace kmb {

QString lowDiskPromptHeadline()
{
    return QCoreApplication::translate("kmb::LowDiskSpacePromptView", "磁盘空间快用完了！");
}

QString lowDiskPromptHint()
{
    return QCoreApplication::translate("kmb::LowDiskSpacePromptView",
                                       "启动 Korvanta 移除不需要的项目并恢复空间。");
}

QString lowDiskPromptOpenLabel()
{
    return QCoreApplication::translate("kmb::LowDiskSpacePromptView", "打开 Korvanta");
}

QString promptAvailableText(std::int64_t availableBytes)
{
    // A byte more or less never shows at two decimals of a gigabyte.
    const std::int64_t bytes = std::max<std::int64_t>(availableBytes, 0); // mutate: ignore
    const double gigabytes = double(bytes) / 1e9;
    // printf-style on purpose: a fixed "." and two decimals whatever the locale.
    const QString amount = QString::asprintf("%.2f GB", gigabytes);
    return QCoreApplication::translate("kmb::LowDiskSpacePromptView", "可用： %1").arg(amount);
}

double promptUsageFraction(std::int64_t availableBytes, std::int64_t totalBytes)
{
    if (totalBytes <= 0)
        return 0.9;
    // Negative free space means more than the whole volume is in use (and total − available
    // could overflow): the bar is as full as it gets.
    if (availableBytes < 0) // mutate: ignore (0 free gives the same 0.96 below)
        return 0.96;
    const std::int64_t used = std::max<std::int64_t>(totalBytes - availableBytes, 0);
    const double fraction = double(used) / double(totalBytes);
    // At the bounds themselves, either comparison gives the bound.
    if (fraction <= 0.06) // mutate: ignore
        return 0.06;
    if (fraction > 0.96) // mutate: ignore
        return 0.96;
    return fraction;
}

double promptFillWidth(double trackWidth, double fraction)
{
    return std::max(trackWidth * fraction, 10.0);
}

} // namespace kmb
