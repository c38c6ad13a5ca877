// libFuzzer target: parsing what the package query tool prints. Text is accepted exactly when
// it is strict UTF-8; every field is one line split at its first ": "; and the fields written
// back out as a record parse to the same fields.
#include "platform/plist/Encoding.h"
#include "prefs/PackageFields.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view output(reinterpret_cast<const char*>(data), size);
    auto fields = parsePackageFields(output);
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
    if (parsePackageFields(record) != fields)
        __builtin_trap();
    return 0;
}
