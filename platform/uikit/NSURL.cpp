#include "platform/uikit/NSURL.h"

#include <string_view>

namespace UIKit {

namespace {

const Runtime::ClassReference s_urlClass("NSURL");

bool isURLCharacter(unsigned char character)
{
    if (character <= 0x20 || character >= 0x7f)
        return false;
    return std::string_view("\"<>\\^`{|}").find(char(character)) == std::string_view::npos;
}

} // namespace

Runtime::Class* NSURL::runtimeClass() { return s_urlClass.get(); }

Runtime::RefPtr<NSURL> NSURL::URLWithString(Runtime::NSString* string)
{
    if (!string)
        return nullptr;
    return create(string->string());
}

Runtime::RefPtr<NSURL> NSURL::create(std::string_view string)
{
    if (string.empty())
        return nullptr;
    for (unsigned char character : string) {
        if (!isURLCharacter(character))
            return nullptr;
    }
    auto url = Runtime::makeInstance<NSURL>(runtimeClass());
    url->m_string = std::string(string);
    return url;
}

} // namespace UIKit
