// The XML property-list reader: a hand-written scanner over the whole document that builds
// values only where asked, so a settings lookup validates everything but allocates little.
#pragma once

#include "platform/plist/PropertyListReader.h"
#include "platform/plist/Value.h"

#include <string>
#include <string_view>

namespace Platform::Plist {

class XmlParser {
public:
    explicit XmlParser(std::string_view input);

    bool parse(Value& root);
    // Found, KeyAbsent or Unreadable (also when the root is not a dictionary).
    LookupStatus lookup(std::string_view key, Value& found);

    // "XML: line N: what went wrong", after parse() or lookup() failed.
    std::string errorReason() const;

private:
    enum class Tag : std::uint8_t { Unknown, Plist, Dict, Array, Key, String, Data, Date, Integer, Real, True, False };
    struct StartTag {
        const char* at;
        std::string_view name;
        Tag tag;
        bool isEmpty;
    };
    // The raw content of a text element; `plain` when it has no references, comments or CDATA
    // and can be taken as it is.
    struct Text {
        const char* begin;
        const char* end;
        bool plain;
    };
    struct LookupTarget {
        std::string_view key;
        Value* found;
        bool matched;
    };

    bool parseDocument(Value* root, LookupTarget*);
    bool parsePrologue();
    bool parseXmlDeclaration();
    bool parseDoctype();
    bool skipMisc();
    bool skipMarkup();
    bool expectElementStart(const char* container);
    bool failElementStart(const char* container);

    bool readStartTag(StartTag&);
    bool readEndTag(std::string_view name);
    bool readEndTagSlowly(std::string_view name);
    bool readText(const StartTag&, Text&);
    const char* checkReference(const char* p);
    void decode(const Text&, std::string& out) const;
    std::string_view content(const Text&, std::string& scratch) const;

    bool parseElement(const StartTag&, Value* out, unsigned depth);
    bool parseDictionary(const StartTag&, Value* out, unsigned depth, LookupTarget*);
    bool parseArray(const StartTag&, Value* out, unsigned depth);
    bool parseInteger(const StartTag&, const Text&, Value* out);
    bool parseReal(const StartTag&, const Text&, Value* out);
    bool parseDate(const StartTag&, const Text&, Value* out);
    bool parseData(const StartTag&, const Text&, Value* out);

    [[gnu::cold, gnu::noinline]] bool fail(
        const char* at, const char* format, std::string_view firstName = {}, std::string_view secondName = {});
    static Tag tagFromName(std::string_view);
    bool matchTagName(const char* p, StartTag&) const;

    const char* m_begin;
    const char* m_end;
    const char* m_p;
    const char* m_errorAt { nullptr };
    std::string m_error;
    std::string m_scratch;
};

} // namespace Platform::Plist
