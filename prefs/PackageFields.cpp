#include "prefs/PackageFields.h"

#include "platform/foundation/PreferencesCalls.h"

namespace {

// Foundation's NSRange, as it crosses messages.
struct NSRange {
    unsigned long location;
    unsigned long length;
};

constexpr unsigned long NSNotFound = 0x7fffffffffffffffUL;
// Code unit by code unit: a combining mark after a separator must not hide it.
constexpr unsigned long NSLiteralSearch = 2;

} // namespace

namespace ObjC {
template<> struct TypeEncoding<NSRange> {
    [[maybe_unused]] static constexpr const char* value = "{_NSRange=QQ}";
};
} // namespace ObjC

id parsePackageFields(id output)
{
    static SEL const dictionary = ObjC::sel("dictionary");
    static SEL const length = ObjC::sel("length");
    static SEL const rangeOfString = ObjC::sel("rangeOfString:options:range:");
    static SEL const substringWithRange = ObjC::sel("substringWithRange:");
    static SEL const setObjectForKey = ObjC::sel("setObject:forKey:");
    static ObjC::ClassReference const mutableDictionary("NSMutableDictionary");

    // Strict UTF-8, as the platform decodes text.
    id text = PlatformStringWithUTF8Data(output);
    if (!text)
        return nullptr;
    id fields = ObjC::send<id>(mutableDictionary.get(), dictionary);
    id newline = ObjC::string("\n");
    id separator = ObjC::string(": ");
    unsigned long size = ObjC::send<unsigned long>(text, length);
    unsigned long separatorLength = ObjC::send<unsigned long>(separator, length);
    for (unsigned long start = 0;;) {
        NSRange lineEnd = ObjC::send<NSRange>(text, rangeOfString, newline, NSLiteralSearch, NSRange { start, size - start });
        unsigned long end = lineEnd.location == NSNotFound ? size : lineEnd.location;
        // What comes before the line's first separator is the name, everything after it the value.
        NSRange found = ObjC::send<NSRange>(text, rangeOfString, separator, NSLiteralSearch, NSRange { start, end - start });
        if (found.location != NSNotFound) {
            unsigned long valueStart = found.location + separatorLength;
            id name = ObjC::send<id>(text, substringWithRange, NSRange { start, found.location - start });
            id value = ObjC::send<id>(text, substringWithRange, NSRange { valueStart, end - valueStart });
            ObjC::send(fields, setObjectForKey, value, name);
        }
        if (lineEnd.location == NSNotFound)
            break;
        start = end + 1;
    }
    return fields;
}
