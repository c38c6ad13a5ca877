#include "platform/plist/PropertyListWriter.h"

#include "platform/fs/ReplaceFile.h"

#include "platform/plist/Encoding.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform::Plist {

static constexpr std::string_view xmlHeader
    = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n";

// The narrowest a line of base64 data gets, however deep the data lies.
static constexpr unsigned minimumDataLineLength = 16;

static void appendEscaped(std::string& out, std::string_view text)
{
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out.push_back(c);
        }
    }
}

static void appendReal(std::string& out, double value)
{
    if (std::isnan(value)) {
        out += "nan";
        return;
    }
    if (std::isinf(value)) {
        out += value > 0 ? "+infinity" : "-infinity";
        return;
    }
    // to_chars with a precision is printf's %.17g in the C locale, whatever the process locale.
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::general, 17);
    out.append(buffer, result.ptr);
}

static void appendValue(std::string& out, const Value& value, unsigned level)
{
    std::string indent(level, '\t');
    out += indent;
    switch (value.kind()) {
    case Kind::Boolean:
        out += value.boolValue() ? "<true/>\n" : "<false/>\n";
        return;
    case Kind::Integer:
        out += "<integer>";
        out += value.isLargeUnsigned() ? std::to_string(value.unsignedIntegerValue())
                                       : std::to_string(value.integerValue());
        out += "</integer>\n";
        return;
    case Kind::Real:
        out += "<real>";
        appendReal(out, value.doubleValue());
        out += "</real>\n";
        return;
    case Kind::String:
        out += "<string>";
        appendEscaped(out, *value.asString());
        out += "</string>\n";
        return;
    case Kind::Data: {
        // Apple's layout: the base64 lines are indented like the <data> tag and each holds
        // 76 characters less the columns of that indentation (a tab counting as 8), but never
        // fewer than 16. Both are multiples of 4, so lines break only between whole groups of
        // 3 bytes; the last line holds what is left, padding included.
        unsigned lineLength = 76 > 8 * level + minimumDataLineLength ? 76 - 8 * level : minimumDataLineLength;
        out += "<data>\n";
        appendBase64(out, *value.asData(), lineLength, indent);
        out += indent;
        out += "</data>\n";
        return;
    }
    case Kind::Date: {
        auto time = calendarTimeFromDate(*value.asDate());
        if (!time)
            throw std::invalid_argument("toXml: a date outside years 1 to 9999 has no XML form");
        char buffer[40];
        std::snprintf(buffer, sizeof(buffer), "<date>%04d-%02u-%02uT%02u:%02u:%02uZ</date>\n",
            static_cast<int>(time->year), time->month, time->day, time->hour, time->minute, time->second);
        out += buffer;
        return;
    }
    case Kind::Array: {
        auto& array = *value.asArray();
        if (array.empty()) {
            out += "<array/>\n";
            return;
        }
        out += "<array>\n";
        for (auto& element : array)
            appendValue(out, element, level + 1);
        out += indent;
        out += "</array>\n";
        return;
    }
    case Kind::Dictionary: {
        auto& dictionary = *value.asDictionary();
        if (dictionary.isEmpty()) {
            out += "<dict/>\n";
            return;
        }
        out += "<dict>\n";
        for (auto& [key, element] : dictionary) {
            out += indent;
            out += "\t<key>";
            appendEscaped(out, key);
            out += "</key>\n";
            appendValue(out, element, level + 1);
        }
        out += indent;
        out += "</dict>\n";
        return;
    }
    case Kind::Uid:
        // A UID has no XML form of its own; the platform writes it as this dictionary.
        out += "<dict>\n";
        out += indent;
        out += "\t<key>CF$UID</key>\n";
        out += indent;
        out += "\t<integer>" + std::to_string(*value.asUid()) + "</integer>\n";
        out += indent;
        out += "</dict>\n";
        return;
    }
}

std::string toXml(const Value& root)
{
    std::string out(xmlHeader);
    appendValue(out, root, 0);
    out += "</plist>\n";
    return out;
}

bool replaceFileAtomically(const std::string& hostPath, std::string_view contents)
{
    return replaceFile(hostPath, contents).ok();
}

bool writeFileAtomically(const std::string& hostPath, const Value& root)
{
    std::string contents;
    try {
        contents = toXml(root);
    } catch (const std::invalid_argument&) {
        return false;
    }
    return replaceFileAtomically(hostPath, contents);
}

} // namespace Platform::Plist
