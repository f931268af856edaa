#pragma once

#include "status/BoundedFile.h"

#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <optional>

namespace kmb {

// The lines of /proc/meminfo that matter, in kB; absent when missing or unusable.
struct MemInfoReading {
    std::optional<std::uint64_t> memAvailableKb;
    std::optional<std::uint64_t> memFreeKb;
    std::optional<std::uint64_t> inactiveFileKb;
};

MemInfoReading parseMemInfo(QByteArrayView meminfo);

// Bytes available without swapping: MemAvailable, or on kernels without it MemFree plus
// Inactive(file). nullopt when neither can be had.
std::optional<std::uint64_t> availableMemoryBytes(const MemInfoReading& reading);

class MemInfoReader {
public:
    explicit MemInfoReader(QString procRoot);
    // An unreadable file reads as all values absent.
    MemInfoReading read() const;

private:
    mutable KeptOpenFile m_file;
};

} // namespace kmb
