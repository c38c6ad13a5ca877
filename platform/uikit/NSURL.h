// NSURL: a URL as the text it was made from.
#pragma once

#include "runtime/Runtime.h"

#include <string>

namespace UIKit {

class NSURL final : public Runtime::NSObject {
public:
    static Runtime::Class* runtimeClass();

    // Nil for nil, an empty string, or text with characters a URL cannot hold unescaped
    // (blanks, control characters, non-ASCII, and " < > \ ^ ` { | }).
    static Runtime::RefPtr<NSURL> URLWithString(Runtime::NSString*);
    static Runtime::RefPtr<NSURL> create(std::string_view);

    Runtime::Ref<Runtime::NSString> absoluteString() const { return Runtime::NSString::create(m_string); }
    const std::string& string() const { return m_string; }

private:
    std::string m_string;
};

} // namespace UIKit
