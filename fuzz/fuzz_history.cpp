// Any bytes as Korvanta's history file: both encodings, detected and forced.
#include "status/PropertyList.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    (void)kmb::totalCleanedBytesFromPropertyList(bytes);
    (void)kmb::plist::totalCleanedBytesFromXml(bytes);
    (void)kmb::plist::totalCleanedBytesFromBinary(bytes);
    return 0;
}
