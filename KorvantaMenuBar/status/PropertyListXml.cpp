// The XML property-list encoding, read with QXmlStreamReader: one pass over the tokens, an
// explicit stack of open containers instead of recursion, nothing kept but what the answer
// needs.
//
// Accepted, as the common readers (Python's plistlib among them) accept it: an optional XML
// declaration, comments, processing instructions and a DOCTYPE (with no entity declarations:
// entities would let a small file expand into a huge one), then either <plist> holding exactly one
// object or a bare object element. Objects: <dict> (alternating <key> and object), <array>,
// <string>, <integer>, <real>, <true/>, <false/>, <date>, <data>. Anything else, text between
// elements that is not white space, an element inside a leaf, an unresolved entity reference, or
// any XML well-formedness error makes the whole file fail.
//
// The leaves' syntax is in PropertyListXmlLeaves.h.

#include "companion/KorvantaContract.h"
#include "status/PropertyList.h"
#include "status/PropertyListXmlLeaves.h"

#include <QBuffer>
#include <QXmlStreamReader>
#include <vector>

namespace kmb::plist {
namespace {

using namespace xmlleaf;

class XmlPropertyListParser {
public:
    explicit XmlPropertyListParser(QByteArrayView bytes)
        // fromRawData: no copy; the view outlives the parser. Read through a QBuffer, the
        // reader decodes the input in small chunks instead of all at once.
        : m_bytes(QByteArray::fromRawData(bytes.data(), bytes.size())), m_buffer(&m_bytes)
    {
        m_buffer.open(QIODevice::ReadOnly);
        m_reader.setDevice(&m_buffer);
    }

    std::optional<std::int64_t> run();

private:
    enum class Container { Dict, Array };
    struct Frame {
        Container kind;
        bool awaitingValue = false; // dict only: a key has been read, its object comes next
    };
    // What to do with a leaf's text while reading it.
    enum class TextUse { Skip, Keep, CheckBase64 };

    bool startElement();
    bool endElement();
    bool startObject(QStringView name);
    bool readLeafText(TextUse use, QString* text);

    QByteArray m_bytes;
    QBuffer m_buffer;
    QXmlStreamReader m_reader;
    std::vector<Frame> m_stack;
    bool m_inPlistElement = false;
    bool m_plistElementUsed = false;
    bool m_rootSeen = false;
    bool m_rootIsDict = false;
    bool m_nextValueIsTotal = false; // the top dict's last key was "totalCleanedBytes"
    std::optional<std::int64_t> m_total;
};

std::optional<std::int64_t> XmlPropertyListParser::run()
{
    while (!m_reader.atEnd()) {
        switch (m_reader.readNext()) {
        case QXmlStreamReader::StartDocument:
        case QXmlStreamReader::Comment:
        case QXmlStreamReader::ProcessingInstruction:
            break;
        case QXmlStreamReader::DTD:
            if (!m_reader.entityDeclarations().isEmpty())
                return std::nullopt;
            break;
        case QXmlStreamReader::Characters:
            if (!m_reader.isWhitespace())
                return std::nullopt;
            break;
        case QXmlStreamReader::StartElement:
            if (!startElement())
                return std::nullopt;
            break;
        case QXmlStreamReader::EndElement:
            if (!endElement())
                return std::nullopt;
            break;
        case QXmlStreamReader::EndDocument:
            break;
        case QXmlStreamReader::NoToken:
        case QXmlStreamReader::Invalid:
        case QXmlStreamReader::EntityReference:
            return std::nullopt;
        }
    }
    if (m_reader.hasError() || !m_rootSeen || !m_stack.empty() || m_inPlistElement)
        return std::nullopt;
    if (!m_rootIsDict)
        return std::nullopt;
    return m_total;
}

bool XmlPropertyListParser::startElement()
{
    const QStringView name = m_reader.qualifiedName();
    if (m_stack.empty()) {
        if (!m_rootSeen && !m_inPlistElement && !m_plistElementUsed && name == u"plist") {
            m_inPlistElement = true;
            m_plistElementUsed = true;
            return true;
        }
        if (m_rootSeen) // a second object at the top, inside <plist> or not
            return false;
        return startObject(name);
    }
    Frame& top = m_stack.back();
    if (top.kind == Container::Dict && !top.awaitingValue) {
        if (name != u"key")
            return false;
        const bool isTopDict = m_stack.size() == 1;
        QString key;
        if (!readLeafText(isTopDict ? TextUse::Keep : TextUse::Skip, &key))
            return false;
        if (isTopDict)
            m_nextValueIsTotal = key == korvanta::historyTotalKey();
        top.awaitingValue = true;
        return true;
    }
    return startObject(name);
}

bool XmlPropertyListParser::startObject(QStringView name)
{
    // Where this object goes: the top level, an array, or the value slot of a dict.
    const bool atTop = m_stack.empty();
    const bool isTotal =
        m_stack.size() == 1 && m_stack.back().kind == Container::Dict && m_nextValueIsTotal;
    if (!atTop && m_stack.back().kind == Container::Dict)
        m_stack.back().awaitingValue = false; // the slot is filled by this object
    if (atTop)
        m_rootSeen = true;

    if (name == u"dict" || name == u"array") {
        if (m_stack.size() >= static_cast<std::size_t>(kMaxNestingLevels))
            return false;
        if (atTop)
            m_rootIsDict = name == u"dict";
        if (isTotal)
            m_total.reset();
        m_stack.push_back({name == u"dict" ? Container::Dict : Container::Array});
        return true;
    }

    std::optional<std::int64_t> number;
    if (name == u"string") {
        if (!readLeafText(TextUse::Skip, nullptr))
            return false;
    } else if (name == u"integer" || name == u"real") {
        QString text;
        if (!readLeafText(TextUse::Keep, &text))
            return false;
        const LeafNumber parsed = name == u"integer" ? parseInteger(text) : parseReal(text);
        if (!parsed.wellFormed)
            return false;
        number = parsed.value;
    } else if (name == u"true" || name == u"false") {
        QString text;
        if (!readLeafText(TextUse::Keep, &text) || !isAllXmlSpace(text))
            return false;
    } else if (name == u"date") {
        QString text;
        if (!readLeafText(TextUse::Keep, &text) || !isPropertyListDate(text))
            return false;
    } else if (name == u"data") {
        if (!readLeafText(TextUse::CheckBase64, nullptr))
            return false;
    } else {
        return false;
    }
    if (isTotal)
        m_total = number;
    return true;
}

bool XmlPropertyListParser::endElement()
{
    if (!m_stack.empty()) {
        // The reader matches end tags with start tags, and leaves are read whole, so this
        // closes the innermost container.
        if (m_stack.back().kind == Container::Dict && m_stack.back().awaitingValue)
            return false; // a key without an object
        m_stack.pop_back();
        return true;
    }
    if (m_inPlistElement) {
        if (!m_rootSeen)
            return false; // <plist> without an object
        m_inPlistElement = false;
        return true;
    }
    return false;
}

// Reads a leaf element's content up to its end tag. Comments and processing instructions in
// it are skipped; child elements and entity references fail.
bool XmlPropertyListParser::readLeafText(TextUse use, QString* text)
{
    while (true) {
        switch (m_reader.readNext()) {
        case QXmlStreamReader::Characters:
            if (use == TextUse::Keep)
                text->append(m_reader.text());
            else if (use == TextUse::CheckBase64 && !isBase64Text(m_reader.text()))
                return false;
            break;
        case QXmlStreamReader::Comment:
        case QXmlStreamReader::ProcessingInstruction:
            break;
        case QXmlStreamReader::EndElement:
            return true;
        default:
            return false;
        }
    }
}

} // namespace

std::optional<std::int64_t> totalCleanedBytesFromXml(QByteArrayView bytes)
{
    XmlPropertyListParser parser(bytes);
    return parser.run();
}

} // namespace kmb::plist
