// Any bytes as /proc/meminfo, /proc/stat or a sysfs attribute.
#include "status/CpuLoadSampling.h"
#include "status/KernelFiles.h"
#include "status/MemorySampling.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    (void)kmb::availableMemoryBytes(kmb::parseMemInfo(bytes));
    const auto times = kmb::parseCpuStat(bytes);
    if (times)
        (void)kmb::cpuLoadPercent(*times, *times);
    (void)kmb::kernelfiles::parseInt64(bytes);
    (void)kmb::kernelfiles::parseUInt64(bytes);
    return 0;
}
