#include "status/KernelFiles.h"

#include "status/BoundedFile.h"

#include <QDirIterator>
#include <algorithm>
#include <charconv>

namespace kmb::kernelfiles {

namespace {

// sysfs class directories hold tens of entries; thousands only on very large machines.
constexpr int scanLimit = 4096;

QByteArrayView trimmed(QByteArrayView text)
{
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.isEmpty() && isSpace(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isSpace(text.back()))
        text.chop(1);
    return text;
}

template <typename T> std::optional<T> parseWhole(QByteArrayView text)
{
    text = trimmed(text);
    if (text.isEmpty())
        return std::nullopt;
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

bool isAsciiDigit(QChar c)
{
    return c.unicode() >= '0' && c.unicode() <= '9';
}

// One maximal run of digits or of other characters, starting at pos.
QStringView nextRun(QStringView text, qsizetype pos)
{
    const bool digits = isAsciiDigit(text.at(pos));
    qsizetype end = pos + 1;
    while (end < text.size() && isAsciiDigit(text.at(end)) == digits)
        ++end;
    return text.sliced(pos, end - pos);
}

// Digit runs by value, without converting (no overflow on long runs).
int compareDigitRuns(QStringView a, QStringView b)
{
    auto stripZeros = [](QStringView run) {
        while (run.size() > 1 && run.front() == u'0')
            run = run.sliced(1);
        return run;
    };
    a = stripZeros(a);
    b = stripZeros(b);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

} // namespace

std::optional<QByteArray> readBounded(const QString& path, qsizetype maxBytes)
{
    if (path.isEmpty() || maxBytes <= 0)
        return std::nullopt;
    return BoundedFile(path).readPrefix(maxBytes).bytes;
}

std::optional<QString> readAttribute(const QString& path)
{
    return attributeText(readBounded(path, attributeLimit));
}

std::optional<std::int64_t> readIntegerAttribute(const QString& path)
{
    return attributeInteger(readBounded(path, attributeLimit));
}

std::optional<QString> attributeText(const std::optional<QByteArray>& data)
{
    if (!data)
        return std::nullopt;
    const qsizetype newline = data->indexOf('\n');
    const QByteArrayView firstLine =
        newline < 0 ? QByteArrayView(*data) : QByteArrayView(*data).first(newline);
    return QString::fromUtf8(trimmed(firstLine));
}

std::optional<std::int64_t> attributeInteger(const std::optional<QByteArray>& data)
{
    if (!data)
        return std::nullopt;
    return parseInt64(*data);
}

std::optional<QString> AttributeFiles::readText(const QString& path)
{
    return attributeText(read(path));
}

std::optional<std::int64_t> AttributeFiles::readInteger(const QString& path)
{
    return attributeInteger(read(path));
}

void AttributeFiles::sweep()
{
    for (auto it = m_files.begin(); it != m_files.end();) {
        if (it->second.read) {
            it->second.read = false;
            ++it;
        } else {
            it = m_files.erase(it);
        }
    }
}

std::optional<QByteArray> AttributeFiles::read(const QString& path)
{
    if (path.isEmpty())
        return std::nullopt;
    auto it = m_files.find(path);
    if (it == m_files.end())
        it = m_files.emplace(path, Entry{KeptOpenFile(path)}).first;
    it->second.read = true;
    return it->second.file.read(attributeLimit);
}

std::optional<std::int64_t> parseInt64(QByteArrayView text)
{
    return parseWhole<std::int64_t>(text);
}

std::optional<std::uint64_t> parseUInt64(QByteArrayView text)
{
    return parseWhole<std::uint64_t>(text);
}

QStringList listEntries(const QString& dir, const QString& prefix, int maxEntries)
{
    QStringList names;
    if (dir.isEmpty())
        return names;
    QDirIterator it(dir, QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot | QDir::System);
    // A bound on what is scanned, not only on what is kept, so a huge directory cannot stall.
    for (int scanned = 0; it.hasNext() && scanned < scanLimit; ++scanned) {
        it.next();
        const QString name = it.fileName();
        if (name.startsWith(prefix))
            names.append(name);
    }
    std::sort(names.begin(), names.end(), naturalLess);
    if (names.size() > maxEntries)
        names.resize(maxEntries);
    return names;
}

bool naturalLess(const QString& a, const QString& b)
{
    // Compares run by run, a number run before a text run, so that this is a strict weak
    // order as std::sort requires; names equal by runs ("a01", "a1") fall back to plain order.
    qsizetype posA = 0;
    qsizetype posB = 0;
    while (posA < a.size() && posB < b.size()) {
        const QStringView runA = nextRun(a, posA);
        const QStringView runB = nextRun(b, posB);
        const bool digitsA = isAsciiDigit(runA.front());
        const bool digitsB = isAsciiDigit(runB.front());
        if (digitsA != digitsB)
            return digitsA;
        const int order = digitsA ? compareDigitRuns(runA, runB) : runA.compare(runB);
        if (order != 0)
            return order < 0;
        posA += runA.size();
        posB += runB.size();
    }
    if ((posA < a.size()) != (posB < b.size()))
        return posB < b.size();
    return a < b;
}

} // namespace kmb::kernelfiles
