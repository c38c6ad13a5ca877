#include "prefs/PackageFields.h"

#include "platform/plist/Encoding.h"

std::optional<std::map<std::string, std::string>> parsePackageFields(std::string_view output)
{
    // Strict UTF-8, as the platform decodes text: no overlong forms, no surrogates, nothing
    // past U+10FFFF.
    size_t errorOffset = 0;
    if (!Platform::Plist::isValidUtf8(output, errorOffset))
        return std::nullopt;
    std::map<std::string, std::string> fields;
    size_t start = 0;
    while (true) {
        size_t end = output.find('\n', start);
        std::string_view line = output.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        size_t separator = line.find(": ");
        if (separator != std::string_view::npos)
            fields[std::string(line.substr(0, separator))] = std::string(line.substr(separator + 2));
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return fields;
}
