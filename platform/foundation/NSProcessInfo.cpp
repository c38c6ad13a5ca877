#include "platform/foundation/NSProcessInfo.h"

#include "platform/log/SystemLog.h"
#include "platform/process/ProcessArguments.h"

#include <mutex>

using namespace Runtime;

namespace Platform {

namespace {

const ClassReference s_processInfoClass("NSProcessInfo");

void registerFoundationClasses()
{
    ClassBuilder<NSProcessInfo>("NSProcessInfo", "NSObject")
        .classMethod<&NSProcessInfo::processInfo>("processInfo")
        .method<&NSProcessInfo::arguments>("arguments")
        .method<&NSProcessInfo::processName>("processName");
}

const bool s_registered = [] {
    addClassRegistrar(&registerFoundationClasses);
    // Runtime warnings (hooks that could not be installed) belong in the system log.
    setWarningHandler([](std::string_view line) { systemLog(line); });
    return true;
}();

} // namespace

RefPtr<Object> NSProcessInfo::processInfo()
{
    // One per registry generation: a reset makes a fresh class, and a fresh instance with it.
    static RefPtr<Object> s_shared;
    static uint64_t s_generation = 0;
    static std::mutex s_lock;
    std::lock_guard guard(s_lock);
    if (!s_shared || s_generation != registryGeneration()) {
        s_shared = allocInit(s_processInfoClass.get());
        s_generation = registryGeneration();
    }
    return s_shared;
}

RefPtr<Object> NSProcessInfo::arguments() const
{
    std::vector<RefPtr<Object>> strings;
    for (auto& argument : processArguments())
        strings.push_back(NSString::create(argument));
    return NSArray::create(std::move(strings));
}

RefPtr<Object> NSProcessInfo::processName() const { return NSString::create(systemLogProcessName()); }

} // namespace Platform
