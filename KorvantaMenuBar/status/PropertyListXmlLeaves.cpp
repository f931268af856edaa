#include "status/PropertyListXmlLeaves.h"

#include "status/PropertyList.h"

#include <QString>
#include <charconv>
#include <limits>
#include <string>

namespace kmb::plist::xmlleaf {

namespace {
bool isXmlSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}
} // namespace

namespace {
bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}
} // namespace

namespace {
QStringView trimmedXmlSpace(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isXmlSpace(text[begin]))
        ++begin;
    while (end > begin && isXmlSpace(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}
} // namespace

bool isAllXmlSpace(QStringView text)
{
    for (QChar c : text) {
        if (!isXmlSpace(c))
            return false;
    }
    return true;
}

LeafNumber parseInteger(QStringView raw)
{
    const QStringView text = trimmedXmlSpace(raw);
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        return {};
    constexpr std::uint64_t kMaxMagnitude = std::uint64_t{1} << 63; // |INT64_MIN|
    std::uint64_t magnitude = 0;
    bool tooLarge = false;
    for (; i < text.size(); ++i) {
        if (!isDigit(text[i]))
            return {};
        const unsigned digit = text[i].unicode() - u'0';
        if (!tooLarge) {
            if (magnitude > (kMaxMagnitude - digit) / 10)
                tooLarge = true; // keep checking the syntax of the rest
            else
                magnitude = magnitude * 10 + digit;
        }
    }
    if (tooLarge || magnitude > (negative ? kMaxMagnitude : kMaxMagnitude - 1))
        return {true, std::nullopt};
    if (negative) {
        // Two's complement negation in unsigned arithmetic covers -2^63 too.
        return {true, static_cast<std::int64_t>(std::uint64_t{0} - magnitude)};
    }
    return {true, static_cast<std::int64_t>(magnitude)};
}

namespace {
bool equalsIgnoringAsciiCase(QStringView text, QLatin1StringView word)
{
    return text.compare(word, Qt::CaseInsensitive) == 0;
}
} // namespace

LeafNumber parseReal(QStringView raw)
{
    QStringView text = trimmedXmlSpace(raw);
    QStringView unsignedPart = text;
    if (!unsignedPart.isEmpty() && (unsignedPart[0] == u'+' || unsignedPart[0] == u'-'))
        unsignedPart = unsignedPart.sliced(1);
    for (const char* word : {"inf", "infinity", "infty", "nan"}) {
        if (equalsIgnoringAsciiCase(unsignedPart, QLatin1StringView(word)))
            return {true, std::nullopt}; // well-formed, never a whole number
    }

    // sign? (digits ('.' digits?)? | '.' digits) ([eE] sign? digits)?
    qsizetype i = 0;
    const qsizetype size = text.size();
    if (i < size && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    const auto skipDigits = [&] {
        const qsizetype start = i;
        while (i < size && isDigit(text[i]))
            ++i;
        return i - start;
    };
    qsizetype mantissaDigits = skipDigits();
    if (i < size && text[i] == u'.') {
        ++i;
        mantissaDigits += skipDigits();
    }
    if (mantissaDigits == 0)
        return {};
    if (i < size && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        if (i < size && (text[i] == u'+' || text[i] == u'-'))
            ++i;
        if (skipDigits() == 0)
            return {};
    }
    if (i != size)
        return {};

    // All ASCII now. from_chars takes no '+', and no locale.
    std::string ascii = text.toLatin1().toStdString();
    const char* first = ascii.data();
    const char* last = ascii.data() + ascii.size();
    if (*first == '+')
        ++first;
    double value = 0;
    const auto [end, error] = std::from_chars(first, last, value, std::chars_format::general);
    if (error == std::errc::result_out_of_range)
        return {true, std::nullopt}; // beyond a double's range either way: not a usable total
    if (error != std::errc() || end != last)
        return {};
    return {true, wholeNumberFromReal(value)};
}

// YYYY[-MM[-DD[Thh[:mm[:ss]]]]]Z
bool isPropertyListDate(QStringView text)
{
    qsizetype i = 0;
    auto digits = [&](int count) {
        for (int k = 0; k < count; ++k, ++i) {
            if (i >= text.size() || !isDigit(text[i]))
                return false;
        }
        return true;
    };
    if (!digits(4))
        return false;
    for (char16_t separator : {u'-', u'-', u'T', u':', u':'}) {
        if (i < text.size() && text[i] == separator) {
            ++i;
            if (!digits(2))
                return false;
        } else {
            break;
        }
    }
    return i + 1 == text.size() && text[i] == u'Z';
}

bool isBase64Text(QStringView text)
{
    for (QChar c : text) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') ||
                        (u >= u'0' && u <= u'9') || u == u'+' || u == u'/' || u == u'=' ||
                        isXmlSpace(c);
        if (!ok)
            return false;
    }
    return true;
}

} // namespace kmb::plist::xmlleaf
