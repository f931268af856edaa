// The binary property-list encoding: the parser's two passes (see PropertyListBinaryParser.h).

#include "companion/KorvantaContract.h"
#include "status/PropertyList.h"
#include "status/PropertyListBinaryParser.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kmb::plist::binary {

bool BinaryPropertyListParser::readTrailer()
{
    if (m_size < kHeaderSize + kTrailerSize || std::memcmp(m_data, "bplist00", kHeaderSize) != 0)
        return false;
    const std::uint64_t trailer = m_size - kTrailerSize;
    m_offsetSize = m_data[trailer + 6];
    m_refSize = m_data[trailer + 7];
    m_objectCount = bigEndian(trailer + 8, 8);
    m_topIndex = bigEndian(trailer + 16, 8);
    m_tableOffset = bigEndian(trailer + 24, 8);
    if (m_offsetSize < 1 || m_offsetSize > 8 || m_refSize < 1 || m_refSize > 8)
        return false;
    if (m_objectCount == 0 || m_topIndex >= m_objectCount)
        return false;
    // At least one byte of objects, and the table wholly before the trailer.
    if (m_tableOffset <= kHeaderSize || m_tableOffset > trailer)
        return false;
    return m_objectCount <= (trailer - m_tableOffset) / m_offsetSize;
}

std::optional<BinaryPropertyListParser::Object>
BinaryPropertyListParser::objectAt(std::uint64_t offset) const
{
    if (offset < kHeaderSize || offset >= m_tableOffset)
        return std::nullopt;
    const std::uint8_t marker = m_data[offset];
    Object object;
    object.type = marker >> 4;
    object.info = marker & 0x0F;
    object.payload = offset + 1;
    std::uint64_t available = m_tableOffset - object.payload;

    auto fixedSize = [&](std::uint64_t bytes) -> std::optional<Object> {
        if (bytes > available)
            return std::nullopt;
        object.end = object.payload + bytes;
        return object;
    };

    switch (object.type) {
    case Simple:
        if (object.info != 0x0 && object.info != 0x8 && object.info != 0x9 && object.info != 0xF)
            return std::nullopt;
        object.end = object.payload;
        return object;
    case Integer:
        if (object.info > 4)
            return std::nullopt;
        return fixedSize(std::uint64_t{1} << object.info);
    case Real:
        if (object.info != 2 && object.info != 3)
            return std::nullopt;
        return fixedSize(std::uint64_t{1} << object.info);
    case Date:
        if (object.info != 3)
            return std::nullopt;
        return fixedSize(8);
    case Uid:
        return fixedSize(std::uint64_t{object.info} + 1);
    case Data:
    case AsciiString:
    case Utf16String:
    case Array:
    case Set:
    case Dict:
        break;
    default:
        return std::nullopt;
    }

    object.count = object.info;
    if (object.info == 0xF) {
        // The count follows as an integer object of 1, 2, 4 or 8 bytes.
        if (available < 1)
            return std::nullopt;
        const std::uint8_t countMarker = m_data[object.payload];
        if ((countMarker >> 4) != Integer || (countMarker & 0x0F) > 3)
            return std::nullopt;
        const unsigned width = 1u << (countMarker & 0x0F);
        if (available < 1 + width)
            return std::nullopt;
        object.count = bigEndian(object.payload + 1, width);
        object.payload += 1 + width;
        available -= 1 + width;
    }
    std::uint64_t unit = 1;
    if (object.type == Utf16String)
        unit = 2;
    else if (object.type == Array || object.type == Set)
        unit = m_refSize;
    else if (object.type == Dict)
        unit = 2 * std::uint64_t{m_refSize};
    if (object.count > available / unit)
        return std::nullopt;
    object.end = object.payload + object.count * unit;
    return object;
}

bool BinaryPropertyListParser::checkObjectContent(const Object& object) const
{
    switch (object.type) {
    case AsciiString:
        for (std::uint64_t i = 0; i < object.count; ++i) {
            if (m_data[object.payload + i] >= 0x80)
                return false;
        }
        return true;
    case Utf16String: {
        bool expectLow = false;
        for (std::uint64_t i = 0; i < object.count; ++i) {
            const auto unit = static_cast<std::uint16_t>(bigEndian(object.payload + 2 * i, 2));
            const bool high = unit >= 0xD800 && unit <= 0xDBFF;
            const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
            if (expectLow != low)
                return false;
            expectLow = high;
        }
        return !expectLow;
    }
    case Array:
    case Set:
        for (std::uint64_t k = 0; k < object.count; ++k) {
            if (reference(object.payload, k) >= m_objectCount)
                return false;
        }
        return true;
    case Dict:
        for (std::uint64_t k = 0; k < 2 * object.count; ++k) {
            const std::uint64_t ref = reference(object.payload, k);
            if (ref >= m_objectCount)
                return false;
            if (k < object.count) { // a key: it must be a string
                const std::uint64_t keyOffset = offsetOfIndex(ref);
                if (keyOffset < kHeaderSize || keyOffset >= m_tableOffset)
                    return false;
                const std::uint8_t keyType = m_data[keyOffset] >> 4;
                if (keyType != AsciiString && keyType != Utf16String)
                    return false;
            }
        }
        return true;
    default:
        return true;
    }
}

bool BinaryPropertyListParser::checkAllObjects()
{
    // One bit per byte of the objects area: taken by an object or not.
    std::vector<std::uint64_t> taken((m_tableOffset + 63) / 64, 0);
    for (std::uint64_t index = 0; index < m_objectCount; ++index) {
        const std::uint64_t offset = offsetOfIndex(index);
        const std::optional<Object> object = objectAt(offset);
        if (!object)
            return false;
        for (std::uint64_t byte = offset; byte < object->end; ++byte) {
            std::uint64_t& word = taken[byte / 64];
            const std::uint64_t bit = std::uint64_t{1} << (byte % 64);
            if (word & bit)
                return false; // overlaps another object, or is the same one listed twice
            word |= bit;
        }
        if (!checkObjectContent(*object))
            return false;
    }
    return true;
}

bool BinaryPropertyListParser::checkObjectGraph()
{
    m_state.assign(m_objectCount, kNotSeen);
    // The top object first, then every container it does not reach, each as the root of a
    // walk at level 1: no cycle anywhere, and no chain of more than kMaxNestingLevels
    // containers. Each object is entered once over all the walks.
    for (std::uint64_t round = 0; round <= m_objectCount; ++round) {
        const std::uint64_t root = round == 0 ? m_topIndex : round - 1;
        if (m_state[root] != kNotSeen || !isContainerType(typeOfIndex(root)))
            continue;
        if (!walkFrom(root))
            return false;
    }
    return true;
}

// Iterative depth-first walk; the path holds at most kMaxNestingLevels frames.
bool BinaryPropertyListParser::walkFrom(std::uint64_t root)
{
    struct Frame {
        std::uint64_t index;
        std::uint64_t references; // position of the first reference
        std::uint64_t referenceCount;
        std::uint64_t next = 0;
        std::uint16_t deepestChild = 0; // container levels below this one
    };
    std::vector<Frame> path;
    auto enter = [&](std::uint64_t index) {
        const Object object = *objectOfIndex(index); // checked by checkAllObjects
        const std::uint64_t refs = object.type == Dict ? 2 * object.count : object.count;
        path.push_back({index, object.payload, refs});
        m_state[index] = kOnPath;
    };

    enter(root);
    while (!path.empty()) {
        Frame& frame = path.back();
        if (frame.next < frame.referenceCount) {
            const std::uint64_t child = reference(frame.references, frame.next++);
            if (!isContainerType(typeOfIndex(child)))
                continue;
            const std::uint16_t childState = m_state[child];
            const auto level = static_cast<std::uint64_t>(path.size()); // of `frame`
            if (childState == kOnPath)
                return false; // a reference cycle
            if (childState != kNotSeen) {
                const std::uint16_t childLevels = childState - 1;
                if (level + childLevels > static_cast<std::uint64_t>(kMaxNestingLevels))
                    return false;
                frame.deepestChild = std::max(frame.deepestChild, childLevels);
                continue;
            }
            if (level + 1 > static_cast<std::uint64_t>(kMaxNestingLevels))
                return false;
            enter(child); // invalidates `frame`
            continue;
        }
        const auto levels = static_cast<std::uint16_t>(frame.deepestChild + 1);
        m_state[frame.index] = static_cast<std::uint16_t>(levels + 1);
        path.pop_back();
        if (!path.empty())
            path.back().deepestChild = std::max(path.back().deepestChild, levels);
    }
    return true;
}

bool BinaryPropertyListParser::isTotalKey(std::uint64_t index) const
{
    static const QByteArray key = korvanta::historyTotalKey().toLatin1();
    const Object object = *objectOfIndex(index);
    if (object.count != static_cast<std::uint64_t>(key.size()))
        return false;
    if (object.type == AsciiString)
        return std::memcmp(m_data + object.payload, key.constData(), key.size()) == 0;
    for (std::uint64_t i = 0; i < object.count; ++i) {
        if (bigEndian(object.payload + 2 * i, 2) != static_cast<std::uint8_t>(key[i]))
            return false;
    }
    return true;
}

std::optional<std::int64_t> BinaryPropertyListParser::wholeNumberOfIndex(std::uint64_t index) const
{
    const Object object = *objectOfIndex(index);
    if (object.type == Integer) {
        switch (object.info) {
        case 0: // 1, 2 and 4 bytes: unsigned
        case 1:
        case 2:
            return static_cast<std::int64_t>(bigEndian(object.payload, 1u << object.info));
        case 3: // 8 bytes: signed
            return static_cast<std::int64_t>(bigEndian(object.payload, 8));
        case 4: { // 16 bytes: signed; counts when the high half only extends the low half's sign
            const std::uint64_t high = bigEndian(object.payload, 8);
            const std::uint64_t low = bigEndian(object.payload + 8, 8);
            const bool lowNegative = (low >> 63) != 0;
            if (high != (lowNegative ? ~std::uint64_t{0} : 0))
                return std::nullopt;
            return static_cast<std::int64_t>(low);
        }
        default:
            return std::nullopt;
        }
    }
    if (object.type == Real) {
        if (object.info == 2) {
            const auto bits = static_cast<std::uint32_t>(bigEndian(object.payload, 4));
            return wholeNumberFromReal(static_cast<double>(std::bit_cast<float>(bits)));
        }
        return wholeNumberFromReal(std::bit_cast<double>(bigEndian(object.payload, 8)));
    }
    return std::nullopt;
}

std::optional<std::int64_t> BinaryPropertyListParser::run()
{
    if (!readTrailer() || !checkAllObjects() || !checkObjectGraph())
        return std::nullopt;
    const Object top = *objectOfIndex(m_topIndex);
    if (top.type != Dict)
        return std::nullopt;
    std::optional<std::int64_t> total;
    for (std::uint64_t k = 0; k < top.count; ++k) {
        if (isTotalKey(reference(top.payload, k)))
            total = wholeNumberOfIndex(reference(top.payload, top.count + k)); // last one wins
    }
    return total;
}

} // namespace kmb::plist::binary

namespace kmb::plist {

std::optional<std::int64_t> totalCleanedBytesFromBinary(QByteArrayView bytes)
{
    binary::BinaryPropertyListParser parser(bytes);
    return parser.run();
}

} // namespace kmb::plist
