// The binary property-list encoding, "bplist00".
//
// Layout: the 8-byte header, the objects, the offset table (one big-endian offset per object,
// offsetSize bytes each), and a 32-byte trailer (6 unused bytes, offsetSize, refSize, the
// object count, the top object's index and the offset table's offset, the last three 8-byte
// big-endian). Containers hold object references (indices into the offset table, refSize
// bytes each).
//
// Every offset, count and reference is checked against the file before it is used, and the
// reading is done in two passes with no recursion:
// 1. Every entry of the offset table must point into the objects area (after the header,
//    before the table) at a well-formed object that lies wholly inside that area and overlaps
//    no other object. Writers lay objects out one after another, so this refuses nothing they
//    make; it bounds the work of this pass, and of the next, by the file's size (without it,
//    a small file could make many table entries, or many overlapping containers, share the
//    same bytes).
//    Object types read: null, booleans, fill, integers of 1, 2, 4, 8 and 16 bytes, reals of 4
//    and 8 bytes, dates, data, ASCII strings (bytes below 0x80), UTF-16 strings (surrogates
//    paired), UIDs, arrays, sets and dictionaries (keys must be strings). Other markers fail.
// 2. Iterative depth-first walks, from the top object and then from any container it does
//    not reach, with one state per object (not seen / on the current path / done, with the
//    number of container levels it heads) reject reference cycles and chains of more than
//    kMaxNestingLevels nested containers, entering each object once: O(objects + references).
//    Objects may be shared (a DAG), as writers share equal values.
//
// Integers: 1-, 2- and 4-byte ones are unsigned, 8-byte ones signed two's complement, and
// 16-byte ones (signed, as Python writes 2^63 .. 2^64-1) count when they fit in 64 bits.

#include "companion/KorvantaContract.h"
#include "status/PropertyList.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace kmb::plist {
namespace {

constexpr std::uint64_t kHeaderSize = 8;
constexpr std::uint64_t kTrailerSize = 32;

enum Type : std::uint8_t {
    Simple = 0x0, // null, false, true, fill
    Integer = 0x1,
    Real = 0x2,
    Date = 0x3,
    Data = 0x4,
    AsciiString = 0x5,
    Utf16String = 0x6,
    Uid = 0x8,
    Array = 0xA,
    Set = 0xC,
    Dict = 0xD,
};

bool isContainerType(std::uint8_t type)
{
    return type == Array || type == Set || type == Dict;
}

class BinaryPropertyListParser {
public:
    explicit BinaryPropertyListParser(QByteArrayView bytes)
        : m_data(reinterpret_cast<const std::uint8_t*>(bytes.data())),
          m_size(static_cast<std::uint64_t>(bytes.size()))
    {
    }

    std::optional<std::int64_t> run();

private:
    // One object's header: where its payload is and how many elements (bytes, UTF-16 units,
    // references or key/value pairs) it has. [offset, end) is everything it occupies.
    struct Object {
        std::uint8_t type = 0;
        std::uint8_t info = 0;
        std::uint64_t payload = 0;
        std::uint64_t count = 0;
        std::uint64_t end = 0;
    };

    bool readTrailer();
    bool checkAllObjects();
    bool checkObjectGraph();
    bool walkFrom(std::uint64_t root);
    std::optional<Object> objectAt(std::uint64_t offset) const;
    bool checkObjectContent(const Object& object) const;
    std::optional<Object> objectOfIndex(std::uint64_t index) const
    {
        return objectAt(offsetOfIndex(index));
    }
    std::uint64_t offsetOfIndex(std::uint64_t index) const
    {
        return bigEndian(m_tableOffset + index * m_offsetSize, m_offsetSize);
    }
    std::uint64_t reference(std::uint64_t position, std::uint64_t k) const
    {
        return bigEndian(position + k * m_refSize, m_refSize);
    }
    std::uint8_t typeOfIndex(std::uint64_t index) const
    {
        return m_data[offsetOfIndex(index)] >> 4; // offsets are checked by checkAllObjects
    }
    bool isTotalKey(std::uint64_t index) const;
    std::optional<std::int64_t> wholeNumberOfIndex(std::uint64_t index) const;

    // Callers have checked that [position, position + width) lies inside the data.
    std::uint64_t bigEndian(std::uint64_t position, unsigned width) const
    {
        std::uint64_t value = 0;
        for (unsigned i = 0; i < width; ++i)
            value = (value << 8) | m_data[position + i];
        return value;
    }

    const std::uint8_t* m_data;
    std::uint64_t m_size;
    unsigned m_offsetSize = 0;
    unsigned m_refSize = 0;
    std::uint64_t m_objectCount = 0;
    std::uint64_t m_topIndex = 0;
    std::uint64_t m_tableOffset = 0; // also the end of the objects area

    // Per object, for the graph walk: kNotSeen, kOnPath while on the current path, otherwise
    // 1 + the number of container levels it heads (at most kMaxNestingLevels).
    static constexpr std::uint16_t kNotSeen = 0;
    static constexpr std::uint16_t kOnPath = 0xFFFF;
    std::vector<std::uint16_t> m_state;
};

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

} // namespace

std::optional<std::int64_t> totalCleanedBytesFromBinary(QByteArrayView bytes)
{
    BinaryPropertyListParser parser(bytes);
    return parser.run();
}

} // namespace kmb::plist
