#pragma once

#include "status/BoundedFile.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <optional>

// Small, bounded reads of /proc and /sys files. Everything here runs on the GUI thread, so
// nothing reads more than its limit and nothing waits on a pipe or a device node.
namespace kmb::kernelfiles {

// Large enough for any attribute file we read; /proc files take their own limits.
inline constexpr qsizetype attributeLimit = 4096;

// At most maxBytes of a regular file (fewer when the file is shorter). nullopt when the path
// is missing, is not a regular file, or the kernel refuses the read (sysfs reports a failing
// sensor as a read error).
std::optional<QByteArray> readBounded(const QString& path, qsizetype maxBytes);

// The first line of a small attribute file, trimmed; nullopt when unreadable.
std::optional<QString> readAttribute(const QString& path);
// A decimal integer attribute; nullopt when unreadable, empty, not a number or out of range.
std::optional<std::int64_t> readIntegerAttribute(const QString& path);

// The same from an attribute's bytes (nullopt: it could not be read).
std::optional<QString> attributeText(const std::optional<QByteArray>& data);
std::optional<std::int64_t> attributeInteger(const std::optional<QByteArray>& data);

// Attribute files read on every pass, kept open between passes (KeptOpenFile) and looked up
// by path. sweep() closes the files not read since the last sweep, so that entries that went
// away leave no descriptors behind.
class AttributeFiles {
public:
    std::optional<QString> readText(const QString& path);
    std::optional<std::int64_t> readInteger(const QString& path);
    void sweep();

private:
    std::optional<QByteArray> read(const QString& path);

    struct Entry {
        KeptOpenFile file;
        bool read = false;
    };
    std::map<QString, Entry> m_files;
};

// Whole-token decimal parsing: optional surrounding whitespace, an optional '-' (signed
// only), digits, nothing else.
std::optional<std::int64_t> parseInt64(QByteArrayView text);
std::optional<std::uint64_t> parseUInt64(QByteArrayView text);

// Entry names in dir starting with prefix, in natural order (hwmon2 before hwmon10), at most
// maxEntries of them. Directory symlinks, as in /sys/class, count as entries.
QStringList listEntries(const QString& dir, const QString& prefix, int maxEntries = 256);

// Natural order of names: equal text before a trailing number compares that number by value.
bool naturalLess(const QString& a, const QString& b);

} // namespace kmb::kernelfiles
