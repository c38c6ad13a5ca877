#include "platform/plist/XmlParser.h"

#include "platform/plist/Encoding.h"

#include <array>
#include <charconv>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale.h>

namespace Platform::Plist {

enum : std::uint8_t { SpaceClass = 1, NameStartClass = 2, NameClass = 4, TextStopClass = 8 };

static constexpr auto characterClasses = [] {
    std::array<std::uint8_t, 256> classes {};
    for (unsigned c = 0; c < 256; ++c) {
        bool nameStart = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
        if (nameStart)
            classes[c] |= NameStartClass | NameClass;
        if ((c >= '0' && c <= '9') || c == '-' || c == '.')
            classes[c] |= NameClass;
    }
    for (unsigned char c : { ' ', '\n', '\t', '\r' })
        classes[c] |= SpaceClass;
    classes['<'] |= TextStopClass;
    classes['&'] |= TextStopClass;
    return classes;
}();

static inline bool hasClass(char c, std::uint8_t characterClass)
{
    return characterClasses[static_cast<unsigned char>(c)] & characterClass;
}

static inline bool isSpace(char c) { return hasClass(c, SpaceClass); }

static inline bool isNameStart(char c) { return hasClass(c, NameStartClass); }

static inline bool isNameChar(char c) { return hasClass(c, NameClass); }

// The next '<' or '&', eight bytes at a time while none is near.
static inline const char* findTextStop(const char* p, const char* end)
{
    constexpr std::uint64_t ones = 0x0101010101010101ull;
    constexpr std::uint64_t highs = 0x8080808080808080ull;
    while (end - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        std::uint64_t lessThans = word ^ (ones * '<');
        std::uint64_t ampersands = word ^ (ones * '&');
        if (((lessThans - ones) & ~lessThans & highs) | ((ampersands - ones) & ~ampersands & highs))
            break;
        p += 8;
    }
    while (p < end && !hasClass(*p, TextStopClass))
        ++p;
    return p;
}

// With the prefix's length known at compile time, the comparison is a few inlined loads.
template <std::size_t size> static inline bool startsWith(const char* p, const char* end, const char (&prefix)[size])
{
    return static_cast<std::size_t>(end - p) >= size - 1 && !std::memcmp(p, prefix, size - 1);
}

// Names are short: a plain loop beats calling memcmp.
static inline bool equalBytes(const char* a, const char* b, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        if (a[i] != b[i])
            return false;
    }
    return true;
}

template <std::size_t size> static inline bool equals(std::string_view text, const char (&literal)[size])
{
    return text.size() == size - 1 && !std::memcmp(text.data(), literal, size - 1);
}

static const char* find(const char* p, const char* end, std::string_view needle)
{
    std::string_view haystack(p, static_cast<std::size_t>(end - p));
    std::size_t at = haystack.find(needle);
    return at == std::string_view::npos ? nullptr : p + at;
}

static std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

// Names go into error messages: keep them short and printable.
static std::string printable(std::string_view name)
{
    std::string result;
    for (char c : name.substr(0, 32))
        result.push_back(c >= 0x20 && c < 0x7F ? c : '?');
    if (name.size() > 32)
        result += "...";
    return result;
}

XmlParser::XmlParser(std::string_view input)
    : m_begin(input.data())
    , m_end(input.data() + input.size())
    , m_p(input.data())
{
}

// Kept out of line and cold, so that the scanning functions carry no string building. Each '%'
// in `format` stands for the next name, made printable.
bool XmlParser::fail(const char* at, const char* format, std::string_view firstName, std::string_view secondName)
{
    // The first failure is the one reported.
    if (m_errorAt)
        return false;
    m_errorAt = at;
    std::string_view names[] = { firstName, secondName };
    std::size_t nextName = 0;
    for (const char* f = format; *f; ++f) {
        if (*f == '%' && nextName < 2)
            m_error += printable(names[nextName++]);
        else
            m_error += *f;
    }
    return false;
}

std::string XmlParser::errorReason() const
{
    std::size_t line = 1;
    for (const char* p = m_begin; m_errorAt && p < m_errorAt && p < m_end; ++p)
        line += *p == '\n';
    return "XML: line " + std::to_string(line) + ": " + (m_error.empty() ? "not a property list" : m_error);
}

bool XmlParser::parse(Value& root) { return parseDocument(&root, nullptr); }

LookupStatus XmlParser::lookup(std::string_view key, Value& found)
{
    LookupTarget target { key, &found, false };
    if (!parseDocument(nullptr, &target))
        return LookupStatus::Unreadable;
    return target.matched ? LookupStatus::Found : LookupStatus::KeyAbsent;
}

bool XmlParser::parseDocument(Value* root, LookupTarget* target)
{
    if (!parsePrologue())
        return false;
    if (m_p == m_end)
        return fail(m_p, "no root element");
    if (startsWith(m_p, m_end, "<!ENTITY"))
        return fail(m_p, "entity declarations are not allowed");
    if (*m_p != '<' || m_p + 1 == m_end || !isNameStart(m_p[1]))
        return fail(m_p, "text before the root element");

    StartTag start;
    if (!readStartTag(start))
        return false;
    StartTag rootTag = start;
    if (start.tag == Tag::Plist) {
        if (start.isEmpty)
            return fail(start.at, "empty <plist>");
        if (!skipMisc())
            return false;
        if (startsWith(m_p, m_end, "</"))
            return fail(m_p, "no value in <plist>");
        if (!expectElementStart("plist") || !readStartTag(rootTag))
            return false;
    }
    if (target) {
        if (rootTag.tag != Tag::Dict)
            return fail(rootTag.at, "root is not a dictionary");
        if (!parseDictionary(rootTag, nullptr, 1, target))
            return false;
    } else if (!parseElement(rootTag, root, 1))
        return false;

    if (start.tag == Tag::Plist) {
        if (!skipMisc())
            return false;
        if (m_p == m_end)
            return fail(m_p, "missing </plist>");
        if (!startsWith(m_p, m_end, "</"))
            return fail(m_p, *m_p == '<' ? "more than one root value" : "text in <plist>");
        if (!readEndTag("plist"))
            return false;
    }
    if (!skipMisc())
        return false;
    if (m_p != m_end)
        return fail(m_p, "content after the root element");
    return true;
}

bool XmlParser::parsePrologue()
{
    if (startsWith(m_p, m_end, "\xFE\xFF") || startsWith(m_p, m_end, "\xFF\xFE"))
        return fail(m_p, "UTF-16 is not supported");
    if (startsWith(m_p, m_end, "\xEF\xBB\xBF"))
        m_p += 3;
    std::size_t errorOffset = 0;
    if (!isValidUtf8(std::string_view(m_p, static_cast<std::size_t>(m_end - m_p)), errorOffset))
        return fail(m_p + errorOffset, "invalid UTF-8");
    if (startsWith(m_p, m_end, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"))
        m_p += 38;
    else if (startsWith(m_p, m_end, "<?xml") && m_p + 5 < m_end && isSpace(m_p[5])) {
        if (!parseXmlDeclaration())
            return false;
    }
    bool seenDoctype = false;
    for (;;) {
        if (!skipMisc())
            return false;
        if (!startsWith(m_p, m_end, "<!DOCTYPE"))
            return true;
        if (seenDoctype)
            return fail(m_p, "more than one DOCTYPE");
        seenDoctype = true;
        static constexpr char standardDoctype[] = "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                                  "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">";
        if (startsWith(m_p, m_end, standardDoctype))
            m_p += sizeof(standardDoctype) - 1;
        else if (!parseDoctype())
            return false;
    }
}

// <?xml version="1.0" encoding="UTF-8" standalone="yes"?>; only UTF-8 is accepted.
bool XmlParser::parseXmlDeclaration()
{
    const char* at = m_p;
    const char* p = m_p + 5;
    for (;;) {
        while (p < m_end && isSpace(*p))
            ++p;
        if (startsWith(p, m_end, "?>")) {
            m_p = p + 2;
            return true;
        }
        const char* nameStart = p;
        while (p < m_end && isNameChar(*p))
            ++p;
        std::string_view name(nameStart, static_cast<std::size_t>(p - nameStart));
        while (p < m_end && isSpace(*p))
            ++p;
        if (name.empty() || p == m_end || *p != '=')
            return fail(at, "malformed XML declaration");
        ++p;
        while (p < m_end && isSpace(*p))
            ++p;
        if (p == m_end || (*p != '"' && *p != '\''))
            return fail(at, "malformed XML declaration");
        char quote = *p++;
        const char* valueStart = p;
        while (p < m_end && *p != quote)
            ++p;
        if (p == m_end)
            return fail(at, "malformed XML declaration");
        std::string_view value(valueStart, static_cast<std::size_t>(p - valueStart));
        ++p;
        if (name == "encoding") {
            bool utf8 = value.size() == 5 && (value[0] | 0x20) == 'u' && (value[1] | 0x20) == 't'
                && (value[2] | 0x20) == 'f' && value[3] == '-' && value[4] == '8';
            if (!utf8)
                return fail(at, "unsupported encoding %", value);
        } else if (name != "version" && name != "standalone")
            return fail(at, "malformed XML declaration");
    }
}

// A DOCTYPE names the document type and at most an external identifier; an internal subset
// could declare entities, which are refused.
bool XmlParser::parseDoctype()
{
    const char* at = m_p;
    const char* p = m_p + 9;
    if (p == m_end || !isSpace(*p))
        return fail(at, "malformed DOCTYPE");
    while (p < m_end) {
        char c = *p;
        if (c == '"' || c == '\'') {
            const char* close
                = static_cast<const char*>(std::memchr(p + 1, c, static_cast<std::size_t>(m_end - p - 1)));
            if (!close)
                break;
            p = close + 1;
            continue;
        }
        if (c == '[')
            return fail(p, "DOCTYPE with an internal subset (entity declarations are not allowed)");
        if (c == '<')
            return fail(p, "malformed DOCTYPE");
        if (c == '>') {
            m_p = p + 1;
            return true;
        }
        ++p;
    }
    return fail(at, "unterminated DOCTYPE");
}

// Whitespace, comments and processing instructions, which may stand between elements.
inline bool XmlParser::skipMisc()
{
    const char* p = m_p;
    while (p < m_end && isSpace(*p))
        ++p;
    m_p = p;
    if (p + 1 < m_end && *p == '<' && (p[1] == '!' || p[1] == '?'))
        return skipMarkup();
    return true;
}

bool XmlParser::skipMarkup()
{
    const char* p = m_p;
    for (;;) {
        while (p < m_end && isSpace(*p))
            ++p;
        if (p + 1 >= m_end || *p != '<')
            break;
        if (p[1] == '?') {
            const char* close = find(p + 2, m_end, "?>");
            if (!close)
                return fail(p, "unterminated processing instruction");
            p = close + 2;
        } else if (startsWith(p, m_end, "<!--")) {
            const char* close = find(p + 4, m_end, "-->");
            if (!close)
                return fail(p, "unterminated comment");
            p = close + 3;
        } else
            break;
    }
    m_p = p;
    return true;
}

// After skipMisc() inside a container: the next thing must be an element's start tag.
inline bool XmlParser::expectElementStart(const char* container)
{
    if (m_p + 1 < m_end && *m_p == '<' && isNameStart(m_p[1])) [[likely]]
        return true;
    return failElementStart(container);
}

bool XmlParser::failElementStart(const char* container)
{
    if (m_p == m_end)
        return fail(m_p, "unterminated <%>", container);
    if (*m_p != '<')
        return fail(m_p, "text in <%>", container);
    if (m_p + 1 < m_end && isNameStart(m_p[1]))
        return true;
    if (startsWith(m_p, m_end, "<!ENTITY"))
        return fail(m_p, "entity declarations are not allowed");
    if (startsWith(m_p, m_end, "<![CDATA["))
        return fail(m_p, "text in <%>", container);
    return fail(m_p, "malformed markup");
}

bool XmlParser::readStartTag(StartTag& start)
{
    const char* p = m_p + 1;
    start.at = m_p;
    if (!matchTagName(p, start)) {
        const char* nameStart = p;
        while (p < m_end && isNameChar(*p))
            ++p;
        start.name = std::string_view(nameStart, static_cast<std::size_t>(p - nameStart));
        start.tag = tagFromName(start.name);
    } else
        p += start.name.size();
    // The common shapes, <name> and <name/>, without attributes or spaces.
    if (p + 1 < m_end && start.tag != Tag::Unknown) {
        if (*p == '>') {
            start.isEmpty = false;
            m_p = p + 1;
            return true;
        }
        if (*p == '/' && p[1] == '>') {
            start.isEmpty = true;
            m_p = p + 2;
            return true;
        }
    }
    bool seenVersion = false;
    for (;;) {
        const char* beforeSpace = p;
        while (p < m_end && isSpace(*p))
            ++p;
        if (p == m_end)
            return fail(start.at, "unterminated tag <%>", start.name);
        if (*p == '>') {
            start.isEmpty = false;
            break;
        }
        if (*p == '/') {
            if (p + 1 == m_end || p[1] != '>')
                return fail(start.at, "malformed tag <%>", start.name);
            start.isEmpty = true;
            ++p;
            break;
        }
        // An attribute; only <plist version="..."> has one.
        const char* attributeStart = p;
        while (p < m_end && isNameChar(*p))
            ++p;
        std::string_view attribute(attributeStart, static_cast<std::size_t>(p - attributeStart));
        if (start.tag == Tag::Unknown)
            return fail(start.at, "unknown tag <%>", start.name);
        if (attribute.empty() || attributeStart == beforeSpace)
            return fail(start.at, "malformed tag <%>", start.name);
        if (start.tag != Tag::Plist || attribute != "version" || seenVersion)
            return fail(attributeStart, "unexpected attribute in <%>", start.name);
        seenVersion = true;
        while (p < m_end && isSpace(*p))
            ++p;
        if (p == m_end || *p != '=')
            return fail(attributeStart, "malformed attribute in <plist>");
        ++p;
        while (p < m_end && isSpace(*p))
            ++p;
        if (p == m_end || (*p != '"' && *p != '\''))
            return fail(attributeStart, "malformed attribute in <plist>");
        char quote = *p++;
        while (p < m_end && *p != quote && *p != '<' && *p != '&')
            ++p;
        if (p == m_end || *p != quote)
            return fail(attributeStart, "malformed attribute in <plist>");
        ++p;
    }
    if (start.tag == Tag::Unknown)
        return fail(start.at, "unknown tag <%>", start.name);
    m_p = p + 1;
    return true;
}

// m_p is at "</".
inline bool XmlParser::readEndTag(std::string_view name)
{
    const char* p = m_p + 2;
    // The common case: exactly the expected name, then '>'.
    if (static_cast<std::size_t>(m_end - p) > name.size() && p[name.size()] == '>'
        && equalBytes(p, name.data(), name.size())) [[likely]] {
        m_p = p + name.size() + 1;
        return true;
    }
    return readEndTagSlowly(name);
}

bool XmlParser::readEndTagSlowly(std::string_view name)
{
    const char* at = m_p;
    const char* p = m_p + 2;
    const char* nameStart = p;
    while (p < m_end && isNameChar(*p))
        ++p;
    std::string_view closing(nameStart, static_cast<std::size_t>(p - nameStart));
    while (p < m_end && isSpace(*p))
        ++p;
    if (p == m_end || *p != '>')
        return fail(at, "malformed closing tag </%>", closing);
    if (closing != name)
        return fail(at, "mismatched closing tag </%> for <%>", closing, name);
    m_p = p + 1;
    return true;
}

// Recognises the known names at `p` by their first letter, without scanning name characters
// one by one. False when the name is none of them (the caller then scans it).
inline bool XmlParser::matchTagName(const char* p, StartTag& start) const
{
    std::size_t available = static_cast<std::size_t>(m_end - p);
    auto match = [&]<std::size_t size>(const char(&name)[size], Tag tag) {
        if (available < size || std::memcmp(p, name, size - 1) || isNameChar(p[size - 1]))
            return false;
        start.name = std::string_view(p, size - 1);
        start.tag = tag;
        return true;
    };
    switch (available ? *p : 0) {
    case 'k':
        return match("key", Tag::Key);
    case 'd':
        return match("dict", Tag::Dict) || match("data", Tag::Data) || match("date", Tag::Date);
    case 's':
        return match("string", Tag::String);
    case 't':
        return match("true", Tag::True);
    case 'f':
        return match("false", Tag::False);
    case 'i':
        return match("integer", Tag::Integer);
    case 'r':
        return match("real", Tag::Real);
    case 'a':
        return match("array", Tag::Array);
    case 'p':
        return match("plist", Tag::Plist);
    default:
        return false;
    }
}

XmlParser::Tag XmlParser::tagFromName(std::string_view name)
{
    switch (name.size()) {
    case 3:
        return equals(name, "key") ? Tag::Key : Tag::Unknown;
    case 4:
        if (equals(name, "dict"))
            return Tag::Dict;
        if (equals(name, "true"))
            return Tag::True;
        if (equals(name, "real"))
            return Tag::Real;
        if (equals(name, "data"))
            return Tag::Data;
        if (equals(name, "date"))
            return Tag::Date;
        return Tag::Unknown;
    case 5:
        if (equals(name, "array"))
            return Tag::Array;
        if (equals(name, "false"))
            return Tag::False;
        if (equals(name, "plist"))
            return Tag::Plist;
        return Tag::Unknown;
    case 6:
        return equals(name, "string") ? Tag::String : Tag::Unknown;
    case 7:
        return equals(name, "integer") ? Tag::Integer : Tag::Unknown;
    default:
        return Tag::Unknown;
    }
}

// Checks one reference at `p` ('&') and answers the position past it (null when malformed): the five predefined
// entities and character references to a Unicode scalar value other than U+0000.
const char* XmlParser::checkReference(const char* p)
{
    const char* at = p;
    const char* q = p + 1;
    auto malformed = [&](const char* message, std::string_view name = {}) {
        fail(at, message, name);
        return nullptr;
    };
    if (q < m_end && *q == '#') {
        ++q;
        bool hex = q < m_end && *q == 'x';
        q += hex;
        std::uint32_t value = 0;
        const char* digitsStart = q;
        for (; q < m_end && *q != ';'; ++q) {
            char c = *q;
            unsigned digit;
            if (c >= '0' && c <= '9')
                digit = static_cast<unsigned>(c - '0');
            else if (hex && (c | 0x20) >= 'a' && (c | 0x20) <= 'f')
                digit = static_cast<unsigned>((c | 0x20) - 'a' + 10);
            else
                return malformed("malformed character reference");
            value = value * (hex ? 16 : 10) + digit;
            if (value > 0x10FFFF)
                return malformed("character reference beyond U+10FFFF");
        }
        if (q == m_end || q == digitsStart)
            return malformed("malformed character reference");
        if (!value)
            return malformed("character reference to U+0000");
        if (value >= 0xD800 && value <= 0xDFFF)
            return malformed("character reference to a surrogate");
        return q + 1;
    }
    const char* nameStart = q;
    while (q < m_end && q - nameStart < 8 && isNameChar(*q))
        ++q;
    if (q == m_end || *q != ';' || q == nameStart)
        return malformed("bare & (unterminated reference)");
    std::string_view name(nameStart, static_cast<std::size_t>(q - nameStart));
    if (name != "amp" && name != "lt" && name != "gt" && name != "quot" && name != "apos")
        return malformed("unknown entity &%;", name);
    return q + 1;
}

// m_p is just past a non-empty start tag; reads the text up to and including the end tag.
bool XmlParser::readText(const StartTag& start, Text& text)
{
    const char* p = m_p;
    text.begin = p;
    text.plain = true;
    for (;;) {
        p = findTextStop(p, m_end);
        if (p == m_end)
            return fail(start.at, "unterminated <%>", start.name);
        if (*p == '&') {
            if (!(p = checkReference(p)))
                return false;
            text.plain = false;
            continue;
        }
        if (p + 1 < m_end && p[1] == '/') {
            text.end = p;
            m_p = p;
            return readEndTag(start.name);
        }
        const char* close = nullptr;
        if (startsWith(p, m_end, "<!--")) {
            if (!(close = find(p + 4, m_end, "-->")))
                return fail(p, "unterminated comment");
            p = close + 3;
        } else if (startsWith(p, m_end, "<![CDATA[")) {
            if (!(close = find(p + 9, m_end, "]]>")))
                return fail(p, "unterminated CDATA section");
            p = close + 3;
        } else if (startsWith(p, m_end, "<?")) {
            if (!(close = find(p + 2, m_end, "?>")))
                return fail(p, "unterminated processing instruction");
            p = close + 2;
        } else if (start.tag == Tag::Key)
            return fail(p, "compound key (markup inside <key>)");
        else
            return fail(p, "markup inside <%>", start.name);
        text.plain = false;
    }
}

// Expands what readText() has already checked.
void XmlParser::decode(const Text& text, std::string& out) const
{
    out.clear();
    const char* p = text.begin;
    while (p < text.end) {
        const char* run = p;
        while (p < text.end && *p != '<' && *p != '&')
            ++p;
        out.append(run, static_cast<std::size_t>(p - run));
        if (p == text.end)
            break;
        if (*p == '<') {
            if (startsWith(p, text.end, "<![CDATA[")) {
                const char* close = find(p + 9, text.end, "]]>");
                out.append(p + 9, static_cast<std::size_t>(close - p - 9));
                p = close + 3;
            } else if (startsWith(p, text.end, "<!--"))
                p = find(p + 4, text.end, "-->") + 3;
            else
                p = find(p + 2, text.end, "?>") + 2;
            continue;
        }
        ++p;
        if (*p == '#') {
            ++p;
            bool hex = *p == 'x';
            p += hex;
            char32_t value = 0;
            for (; *p != ';'; ++p)
                value = value * (hex ? 16 : 10) + static_cast<char32_t>(*p <= '9' ? *p - '0' : (*p | 0x20) - 'a' + 10);
            appendUtf8(out, value);
        } else if (*p == 'a' && p[1] == 'm')
            out.push_back('&');
        else if (*p == 'a')
            out.push_back('\'');
        else if (*p == 'l')
            out.push_back('<');
        else if (*p == 'g')
            out.push_back('>');
        else
            out.push_back('"');
        p = static_cast<const char*>(std::memchr(p, ';', static_cast<std::size_t>(text.end - p))) + 1;
    }
}

std::string_view XmlParser::content(const Text& text, std::string& scratch) const
{
    if (text.plain)
        return std::string_view(text.begin, static_cast<std::size_t>(text.end - text.begin));
    decode(text, scratch);
    return scratch;
}

bool XmlParser::parseElement(const StartTag& start, Value* out, unsigned depth)
{
    Text text;
    switch (start.tag) {
    case Tag::Dict:
        return parseDictionary(start, out, depth, nullptr);
    case Tag::Array:
        return parseArray(start, out, depth);
    case Tag::String:
        if (start.isEmpty) {
            if (out)
                *out = Value::string({});
            return true;
        }
        if (!readText(start, text))
            return false;
        if (out) {
            if (text.plain)
                *out = Value::string(std::string(text.begin, text.end));
            else {
                std::string decoded;
                decode(text, decoded);
                *out = Value::string(std::move(decoded));
            }
        }
        return true;
    case Tag::True:
    case Tag::False:
        if (!start.isEmpty) {
            if (!startsWith(m_p, m_end, "</"))
                return fail(m_p, "content in <%>", start.name);
            if (!readEndTag(start.name))
                return false;
        }
        if (out)
            *out = Value::boolean(start.tag == Tag::True);
        return true;
    case Tag::Integer:
    case Tag::Real:
    case Tag::Date:
    case Tag::Data:
        if (start.isEmpty) {
            if (start.tag == Tag::Data) {
                if (out)
                    *out = Value::data({});
                return true;
            }
            return fail(start.at, "empty <%>", start.name);
        }
        if (!readText(start, text))
            return false;
        if (start.tag == Tag::Integer)
            return parseInteger(start, text, out);
        if (start.tag == Tag::Real)
            return parseReal(start, text, out);
        if (start.tag == Tag::Date)
            return parseDate(start, text, out);
        return parseData(start, text, out);
    case Tag::Key:
        return fail(start.at, "<key> outside a dictionary");
    case Tag::Plist:
        return fail(start.at, "nested <plist>");
    case Tag::Unknown:
        break;
    }
    return fail(start.at, "unknown tag <%>", start.name);
}

bool XmlParser::parseDictionary(const StartTag& start, Value* out, unsigned depth, LookupTarget* target)
{
    if (depth > maximumNestingDepth)
        return fail(start.at, "nesting deeper than 512");
    if (start.isEmpty) {
        if (out)
            *out = Dictionary();
        return true;
    }
    std::vector<Dictionary::Entry> entries;
    std::string lookupScratch;
    for (;;) {
        if (!skipMisc())
            return false;
        if (startsWith(m_p, m_end, "</")) {
            if (!readEndTag("dict"))
                return false;
            break;
        }
        StartTag keyTag;
        if (startsWith(m_p, m_end, "<key>")) {
            // What nearly every entry starts with.
            keyTag = { m_p, std::string_view(m_p + 1, 3), Tag::Key, false };
            m_p += 5;
        } else if (!expectElementStart("dict") || !readStartTag(keyTag))
            return false;
        if (keyTag.tag != Tag::Key)
            return fail(keyTag.at, "<%> without a key in <dict>", keyTag.name);
        Text keyText { m_p, m_p, true };
        if (!keyTag.isEmpty && !readText(keyTag, keyText))
            return false;

        if (!skipMisc())
            return false;
        if (startsWith(m_p, m_end, "</"))
            return fail(keyTag.at, "<key> without a value");
        StartTag valueTag;
        if (!expectElementStart("dict") || !readStartTag(valueTag))
            return false;
        if (valueTag.tag == Tag::Key)
            return fail(valueTag.at, "two <key>s in a row");

        if (target) {
            // Later duplicates replace earlier ones, as in a full read.
            bool matches = content(keyText, lookupScratch) == target->key;
            if (!parseElement(valueTag, matches ? target->found : nullptr, depth + 1))
                return false;
            target->matched |= matches;
            continue;
        }
        if (!out) {
            if (!parseElement(valueTag, nullptr, depth + 1))
                return false;
            continue;
        }
        auto& entry = entries.emplace_back();
        if (keyText.plain)
            entry.first.assign(keyText.begin, keyText.end);
        else
            decode(keyText, entry.first);
        if (!parseElement(valueTag, &entry.second, depth + 1))
            return false;
    }
    if (out)
        *out = Dictionary::fromEntries(std::move(entries));
    return true;
}

bool XmlParser::parseArray(const StartTag& start, Value* out, unsigned depth)
{
    if (depth > maximumNestingDepth)
        return fail(start.at, "nesting deeper than 512");
    Array elements;
    for (;;) {
        if (start.isEmpty)
            break;
        if (!skipMisc())
            return false;
        if (startsWith(m_p, m_end, "</")) {
            if (!readEndTag("array"))
                return false;
            break;
        }
        StartTag element;
        if (!expectElementStart("array") || !readStartTag(element))
            return false;
        if (element.tag == Tag::Key)
            return fail(element.at, "<key> inside an array");
        if (!out) {
            if (!parseElement(element, nullptr, depth + 1))
                return false;
            continue;
        }
        if (!parseElement(element, &elements.emplace_back(), depth + 1))
            return false;
    }
    if (out)
        *out = std::move(elements);
    return true;
}

// Decimal or 0x hexadecimal, optionally signed; leading zeros are decimal. The range is
// -2^63 ... 2^64-1.
bool XmlParser::parseInteger(const StartTag& start, const Text& text, Value* out)
{
    std::string_view digits = trimmed(content(text, m_scratch));
    if (digits.empty())
        return fail(start.at, "empty <integer>");
    bool negative = false;
    if (digits.front() == '-' || digits.front() == '+') {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    unsigned base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    std::uint64_t magnitude = 0;
    auto [end, error]
        = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, static_cast<int>(base));
    if (digits.empty() || end != digits.data() + digits.size() || digits.front() == '+' || digits.front() == '-')
        return fail(start.at, "malformed integer");
    if (error == std::errc::result_out_of_range || (negative && magnitude > (std::uint64_t(1) << 63)))
        return fail(start.at, "integer out of range");
    if (error != std::errc())
        return fail(start.at, "malformed integer");
    if (out) {
        if (negative)
            *out = Value::integer(static_cast<std::int64_t>(0 - magnitude));
        else
            *out = Value::unsignedInteger(magnitude);
    }
    return true;
}

// Locale-independent: [+-] digits [. digits] [e [+-] digits], or inf, infinity, nan.
static bool isRealSyntax(std::string_view text)
{
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    std::string_view rest = text.substr(i);
    auto equalsIgnoringCase = [](std::string_view a, std::string_view b) {
        if (a.size() != b.size())
            return false;
        for (std::size_t k = 0; k < a.size(); ++k) {
            if ((a[k] | 0x20) != b[k])
                return false;
        }
        return true;
    };
    if (equalsIgnoringCase(rest, "inf") || equalsIgnoringCase(rest, "infinity") || equalsIgnoringCase(rest, "nan"))
        return true;
    std::size_t mantissaDigits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        ++i, ++mantissaDigits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i, ++mantissaDigits;
    }
    if (!mantissaDigits)
        return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        std::size_t exponentDigits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i, ++exponentDigits;
        if (!exponentDigits)
            return false;
    }
    return i == text.size();
}

static double parseRealText(std::string_view text)
{
    std::string_view unsignedText = text;
    if (!unsignedText.empty() && unsignedText.front() == '+')
        unsignedText.remove_prefix(1);
    double value = 0;
    auto [end, error] = std::from_chars(unsignedText.data(), unsignedText.data() + unsignedText.size(), value);
    (void)end;
    if (error == std::errc())
        return value;
    // Out of range: let the C library round to infinity or zero as it always does.
    static locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    std::string copy(text);
    return strtod_l(copy.c_str(), nullptr, cLocale);
}

bool XmlParser::parseReal(const StartTag& start, const Text& text, Value* out)
{
    std::string_view number = trimmed(content(text, m_scratch));
    if (number.empty())
        return fail(start.at, "empty <real>");
    if (!isRealSyntax(number))
        return fail(start.at, "malformed real");
    if (out)
        *out = Value::real(parseRealText(number));
    return true;
}

// YYYY-MM-DDTHH:MM:SSZ, in UTC.
bool XmlParser::parseDate(const StartTag& start, const Text& text, Value* out)
{
    std::string_view date = trimmed(content(text, m_scratch));
    static constexpr std::string_view pattern = "dddd-dd-ddTdd:dd:ddZ";
    bool matches = date.size() == pattern.size();
    for (std::size_t i = 0; matches && i < pattern.size(); ++i)
        matches = pattern[i] == 'd' ? date[i] >= '0' && date[i] <= '9' : date[i] == pattern[i];
    if (!matches)
        return fail(start.at, "malformed date");
    auto number = [&](std::size_t at, std::size_t length) {
        unsigned value = 0;
        for (std::size_t i = at; i < at + length; ++i)
            value = value * 10 + static_cast<unsigned>(date[i] - '0');
        return value;
    };
    CalendarTime time { number(0, 4), number(5, 2), number(8, 2), number(11, 2), number(14, 2), number(17, 2) };
    if (!isValidCalendarTime(time))
        return fail(start.at, "date out of range");
    if (out)
        *out = Value::date(dateFromCalendarTime(time));
    return true;
}

bool XmlParser::parseData(const StartTag& start, const Text& text, Value* out)
{
    std::string_view encoded = content(text, m_scratch);
    if (!out)
        return decodeBase64(encoded, nullptr) || fail(start.at, "malformed base64 in <data>");
    Data bytes;
    if (!decodeBase64(encoded, &bytes))
        return fail(start.at, "malformed base64 in <data>");
    *out = Value::data(std::move(bytes));
    return true;
}

} // namespace Platform::Plist
