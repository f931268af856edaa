#pragma once

#include <QByteArray>
#include <QFile>
#include <cstdint>
#include <optional>

namespace kmb::test {

// Bytes this thread has read through read() and the like, from the kernel's accounting;
// nullopt where /proc/thread-self/io is not available.
inline std::optional<std::uint64_t> bytesReadByThisThread()
{
    QFile io(QStringLiteral("/proc/thread-self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return std::nullopt;
    for (const QByteArray& line : io.readAll().split('\n')) {
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toULongLong();
    }
    return std::nullopt;
}

} // namespace kmb::test
