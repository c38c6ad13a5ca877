// NSProcessInfo: the process's argument list, as runtime objects.
#pragma once

#include "runtime/Foundation.h"

namespace Platform {

class NSProcessInfo final : public Runtime::NSObject {
public:
    static Runtime::RefPtr<Runtime::Object> processInfo();
    // An NSArray of NSStrings, possibly empty.
    Runtime::RefPtr<Runtime::Object> arguments() const;
    Runtime::RefPtr<Runtime::Object> processName() const;
};

} // namespace Platform
