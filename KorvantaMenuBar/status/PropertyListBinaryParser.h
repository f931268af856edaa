#pragma once

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

#include <QByteArrayView>
#include <cstdint>
#include <optional>
#include <vector>

namespace kmb::plist::binary {

inline constexpr std::uint64_t kHeaderSize = 8;
inline constexpr std::uint64_t kTrailerSize = 32;

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

inline bool isContainerType(std::uint8_t type)
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

} // namespace kmb::plist::binary
