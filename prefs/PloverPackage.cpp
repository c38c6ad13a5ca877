#include "prefs/PloverPackage.h"

#include "platform/process/RunAndReadOutput.h"

using namespace Runtime;

namespace {

void registerPackage()
{
    if (getClass("PloverPackage"))
        return;
    ClassBuilder<PloverPackage>("PloverPackage", "NSObject")
        .classMethod<&PloverPackage::packageWithIdentifier>("packageWithIdentifier:")
        .method<&PloverPackage::version>("version")
        .method<&PloverPackage::setVersion>("setVersion:");
}

const bool s_registered = (addClassRegistrar(&registerPackage), true);

// Strict UTF-8, as the platform decodes it: no overlong forms, no surrogates, nothing past U+10FFFF.
bool isValidUTF8(std::string_view bytes)
{
    size_t i = 0;
    while (i < bytes.size()) {
        unsigned char lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        size_t length;
        uint32_t codePoint;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            codePoint = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            codePoint = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            codePoint = lead & 0x07;
        } else
            return false;
        if (i + length > bytes.size())
            return false;
        for (size_t j = 1; j < length; ++j) {
            unsigned char continuation = static_cast<unsigned char>(bytes[i + j]);
            if ((continuation & 0xC0) != 0x80)
                return false;
            codePoint = codePoint << 6 | (continuation & 0x3F);
        }
        if ((length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000) || codePoint > 0x10FFFF
            || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

} // namespace

std::optional<std::map<std::string, std::string>> parsePackageFields(std::string_view output)
{
    if (!isValidUTF8(output))
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

RefPtr<Object> PloverPackage::packageWithIdentifier(Object* identifier)
{
    auto package = allocInit(getClass("PloverPackage"));
    // The identifier is one argument, unchanged; no shell is involved. A tool
    // that cannot be started answers nothing, like one that prints nothing.
    auto result = Platform::runAndReadOutput("/usr/bin/dpkg-query", { "-s", stringValue(identifier).value_or("") }, "/");
    auto fields = parsePackageFields(result.output);
    if (fields) {
        auto version = fields->find("Version");
        if (version != fields->end())
            send(package, "setVersion:", NSString::create(version->second));
    }
    return package;
}
