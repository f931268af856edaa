// Any bytes as a desktop file, and any text as an Exec line.
#include "companion/DesktopEntry.h"

#include <QString>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    (void)kmb::planDesktopLaunch(bytes, QStringLiteral("/usr/share/applications/x.desktop"),
                                 {QStringLiteral("--show-feedback")});
    const QString exec = QString::fromUtf8(bytes);
    (void)kmb::expandExecLine(exec, {QStringLiteral("icon"), QStringLiteral("Name"),
                                     QStringLiteral("/x.desktop")});
    (void)kmb::unescapeDesktopString(exec);
    return 0;
}
