// libFuzzer target: parsing what the package query tool prints. Text is accepted exactly when
// it is strict UTF-8; every field is one line split at its first ": "; and the fields written
// back out as a record parse to the same fields.
#include "platform/foundation/FoundationValue.h"
#include "platform/plist/Encoding.h"
#include "prefs/PackageFields.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

// libobjc keeps one-time allocations of its own to the end of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libobjc.so.4\n"; }

extern "C" void __lsan_disable();
extern "C" void __lsan_enable();

namespace {

using Fields = std::map<std::string, std::string>;

std::optional<Fields> parse(std::string_view output)
{
    id data = ObjC::send<id>(ObjC::getClass("NSData"), ObjC::sel("dataWithBytes:length:"), static_cast<const void*>(output.data()),
        static_cast<unsigned long>(output.size()));
    id fields = parsePackageFields(data);
    if (!fields)
        return std::nullopt;
    Fields result;
    id keys = ObjC::send<id>(fields, ObjC::sel("allKeys"));
    unsigned long count = ObjC::send<unsigned long>(keys, ObjC::sel("count"));
    for (unsigned long index = 0; index < count; ++index) {
        id key = ObjC::send<id>(keys, ObjC::sel("objectAtIndex:"), index);
        auto name = Platform::stringValue(key);
        auto value = Platform::stringValue(ObjC::send<id>(fields, ObjC::sel("objectForKey:"), key));
        if (!name || !value)
            __builtin_trap();
        result[*name] = *value;
    }
    return result;
}

} // namespace

// Foundation sets up each kind of string it keeps the first time it meets one, and keeps that
// for the life of the process where the leak checker cannot always tell it from a leak: every
// kind is met once here, with the checker looking away.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    __lsan_disable();
    {
        ObjC::AutoreleasePool pool;
        for (std::string_view sample : { std::string_view("Package: a\nVersion: 1.0\n"),
                 std::string_view("Name: \xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\xcd\xaf: x\r\n\n"),
                 std::string_view("\xef\xbb\xbfVersion: \0\n", 14), std::string_view("\xff\xfe"), std::string_view("") })
            parse(sample);
    }
    __lsan_enable();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ObjC::AutoreleasePool pool;
    std::string_view output(reinterpret_cast<const char*>(data), size);
    auto fields = parse(output);
    size_t errorOffset = 0;
    if (fields.has_value() != Platform::Plist::isValidUtf8(output, errorOffset))
        __builtin_trap();
    if (!fields)
        return 0;

    std::string record;
    for (auto& [name, value] : *fields) {
        if (name.find('\n') != std::string::npos || name.find(": ") != std::string::npos
            || value.find('\n') != std::string::npos)
            __builtin_trap();
        // The field came from a whole line of the output.
        std::string line = name + ": " + value;
        size_t at = output.find(line);
        if (at == std::string_view::npos)
            __builtin_trap();
        record += line + "\n";
    }
    if (parse(record) != fields)
        __builtin_trap();
    return 0;
}
