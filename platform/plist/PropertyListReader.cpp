#include "platform/plist/PropertyListReader.h"

#include "platform/plist/BinaryParser.h"
#include "platform/plist/FileContents.h"
#include "platform/plist/XmlParser.h"

#include <cstring>

namespace Platform::Plist {

enum class Form : std::uint8_t { Binary, Xml, Neither };

// Binary files start with their magic; XML files with markup, possibly after a byte-order mark
// and whitespace. Anything else (empty and whitespace-only files too) is no property list.
static Form formOf(std::string_view bytes)
{
    if (bytes.size() >= 6 && !std::memcmp(bytes.data(), "bplist", 6))
        return Form::Binary;
    std::size_t i = 0;
    if (bytes.size() >= 2 && ((bytes[0] == '\xFE' && bytes[1] == '\xFF') || (bytes[0] == '\xFF' && bytes[1] == '\xFE')))
        return Form::Xml; // reported as an unsupported encoding
    if (bytes.size() >= 3 && !std::memcmp(bytes.data(), "\xEF\xBB\xBF", 3))
        i = 3;
    while (i < bytes.size() && (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\n' || bytes[i] == '\r'))
        ++i;
    return i < bytes.size() && bytes[i] == '<' ? Form::Xml : Form::Neither;
}

static constexpr const char* notAPropertyList = "not a property list";

ReadResult parse(std::string_view bytes)
{
    ReadResult result;
    switch (formOf(bytes)) {
    case Form::Binary: {
        BinaryParser parser(bytes);
        if (parser.parse(result.value))
            result.status = ReadStatus::Ok;
        else
            result.reason = parser.errorReason();
        break;
    }
    case Form::Xml: {
        XmlParser parser(bytes);
        if (parser.parse(result.value))
            result.status = ReadStatus::Ok;
        else
            result.reason = parser.errorReason();
        break;
    }
    case Form::Neither:
        result.reason = notAPropertyList;
        break;
    }
    if (!result.ok())
        result.value = Value();
    return result;
}

ReadResult readFile(const std::string& hostPath)
{
    FileContents contents;
    ReadResult result;
    result.status = contents.read(hostPath, result.reason);
    if (result.status != ReadStatus::Ok)
        return result;
    return parse(contents.bytes());
}

LookupResult lookupInBytes(std::string_view bytes, std::string_view key)
{
    LookupResult result;
    switch (formOf(bytes)) {
    case Form::Binary: {
        BinaryParser parser(bytes);
        result.status = parser.lookup(key, result.value);
        if (result.status == LookupStatus::Unreadable)
            result.reason = parser.errorReason();
        break;
    }
    case Form::Xml: {
        XmlParser parser(bytes);
        result.status = parser.lookup(key, result.value);
        if (result.status == LookupStatus::Unreadable)
            result.reason = parser.errorReason();
        break;
    }
    case Form::Neither:
        result.status = LookupStatus::Unreadable;
        result.reason = notAPropertyList;
        break;
    }
    if (result.status != LookupStatus::Found)
        result.value = Value();
    return result;
}

LookupResult lookup(const std::string& hostPath, std::string_view key)
{
    FileContents contents;
    std::string reason;
    switch (contents.read(hostPath, reason)) {
    case ReadStatus::Ok:
        return lookupInBytes(contents.bytes(), key);
    case ReadStatus::Missing:
        return { LookupStatus::Missing, Value(), std::move(reason) };
    case ReadStatus::Unreadable:
        break;
    }
    return { LookupStatus::Unreadable, Value(), std::move(reason) };
}

} // namespace Platform::Plist
