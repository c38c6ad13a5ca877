// The simulated device's side of the platform's C-level calls: each sits on the platform's
// own C++ pieces (the main queue, notify, the codec, device paths, processes, the trace).
#include "platform/foundation/PlatformCalls.h"

#include "platform/dispatch/MainQueue.h"
#include "platform/foundation/CoreFoundation.h"
#include "platform/foundation/FoundationValue.h"
#include "platform/fs/DeviceRoot.h"
#include "platform/log/SystemLog.h"
#include "platform/notify/Notify.h"
#include "platform/plist/PropertyList.h"
#include "platform/process/RunAndReadOutput.h"
#include "platform/process/Spawn.h"
#include "platform/trace/Trace.h"

#include <cerrno>
#include <dlfcn.h>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

using namespace Platform;

namespace {

// The host path of a device path; none when the process has no device root.
std::optional<std::string> hostPath(const char* devicePath)
{
    if (!devicePath)
        return std::nullopt;
    try {
        return resolve(devicePath);
    } catch (const std::logic_error&) {
        return std::nullopt;
    }
}

struct PlatformDispatchQueueTag { };
PlatformDispatchQueueTag s_mainQueue;

void runInPool(void* context, dispatch_function_t function)
{
    ObjC::AutoreleasePool pool;
    function(context);
}

// Foundation's log prefix: "DATE TIME PROCESS[PID:THREAD] ", which the system log writes its
// own way; and the line break it adds.
std::string_view withoutFoundationPrefix(std::string_view line)
{
    size_t open = line.find('[');
    while (open != std::string_view::npos) {
        size_t close = line.find("] ", open);
        if (close == std::string_view::npos)
            break;
        std::string_view inside = line.substr(open + 1, close - open - 1);
        if (!inside.empty() && inside.find_first_not_of("0123456789:") == std::string_view::npos) {
            line.remove_prefix(close + 2);
            break;
        }
        open = line.find('[', open + 1);
    }
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    return line;
}

void logThroughSystemLog(id message)
{
    if (auto text = stringValue(message))
        systemLog(withoutFoundationPrefix(*text));
}

} // namespace

extern "C" void (*_NSLog_printf_handler)(id message);

// Foundation's log goes to the device's system log in every process of the platform.
__attribute__((constructor)) static void routeFoundationLog() { _NSLog_printf_handler = &logThroughSystemLog; }

extern "C" {

dispatch_queue_t dispatch_get_main_queue(void) { return reinterpret_cast<dispatch_queue_t>(&s_mainQueue); }

dispatch_time_t dispatch_time(dispatch_time_t when, int64_t delta)
{
    if (when == DISPATCH_TIME_FOREVER)
        return DISPATCH_TIME_FOREVER;
    int64_t base = when == DISPATCH_TIME_NOW ? mainQueue().now() : static_cast<int64_t>(when);
    int64_t sum;
    if (__builtin_add_overflow(base, delta, &sum) || sum == std::numeric_limits<int64_t>::max())
        return delta > 0 ? DISPATCH_TIME_FOREVER : DISPATCH_TIME_NOW;
    return sum <= 0 ? DISPATCH_TIME_NOW : static_cast<dispatch_time_t>(sum);
}

void dispatch_async_f(dispatch_queue_t queue, void* context, dispatch_function_t function)
{
    if (queue != dispatch_get_main_queue() || !function)
        return;
    mainQueue().async([context, function] { runInPool(context, function); });
}

void dispatch_after_f(dispatch_time_t when, dispatch_queue_t queue, void* context, dispatch_function_t function)
{
    if (queue != dispatch_get_main_queue() || !function || when == DISPATCH_TIME_FOREVER)
        return;
    DispatchQueue& main = mainQueue();
    int64_t delay = when == DISPATCH_TIME_NOW ? 0 : static_cast<int64_t>(when) - main.now();
    main.after(delay, [context, function] { runInPool(context, function); });
}

void dispatch_once_f(dispatch_once_t* predicate, void* context, dispatch_function_t function)
{
    // Done predicates are ~0, as libdispatch leaves them; the function runs under one lock
    // for all predicates, held recursively so a once-only block may start another.
    static std::recursive_mutex lock;
    if (__atomic_load_n(predicate, __ATOMIC_ACQUIRE) == ~0l)
        return;
    std::lock_guard guard(lock);
    if (*predicate == ~0l)
        return;
    function(context);
    __atomic_store_n(predicate, ~0l, __ATOMIC_RELEASE);
}

// The one center there is; its address is all that tells it apart (a member, because an empty
// struct in C linkage has no size in C).
struct __CFNotificationCenter {
    char unused;
};
static __CFNotificationCenter s_darwinNotifyCenter;

CFNotificationCenterRef CFNotificationCenterGetDarwinNotifyCenter(void) { return &s_darwinNotifyCenter; }

void CFNotificationCenterAddObserver(CFNotificationCenterRef center, const void* observer, CFNotificationCallback callback,
    CFStringRef name, const void*, CFNotificationSuspensionBehavior)
{
    auto text = stringValue(reinterpret_cast<id>(const_cast<__CFString*>(name)));
    if (center != &s_darwinNotifyCenter || !callback || !text)
        return;
    addNotifyObserver(*text, [center, observer, callback](std::string_view postedName) {
        ObjC::AutoreleasePool pool;
        callback(center, const_cast<void*>(observer), reinterpret_cast<CFStringRef>(makeString(postedName)), nullptr, nullptr);
    });
}

void CFNotificationCenterPostNotification(CFNotificationCenterRef center, CFStringRef name, const void*, CFDictionaryRef, BOOL)
{
    auto text = stringValue(reinterpret_cast<id>(const_cast<__CFString*>(name)));
    if (center != &s_darwinNotifyCenter || !text)
        return;
    postNotification(*text);
}

BOOL PlatformFileExists(const char* devicePath) { return devicePath && fileExists(devicePath); }

void* PlatformOpenLibrary(const char* devicePath, int mode)
{
    auto path = hostPath(devicePath);
    return path ? dlopen(path->c_str(), mode) : nullptr;
}

int PlatformSpawn(int* pid, const char* devicePath, char* const argv[], char* const envp[])
{
    if (!devicePath)
        return EINVAL;
    std::vector<std::string> arguments, environment;
    for (char* const* argument = argv; argument && *argument; ++argument)
        arguments.emplace_back(*argument);
    for (char* const* variable = envp; variable && *variable; ++variable)
        environment.emplace_back(*variable);
    pid_t child = -1;
    int result = spawn(&child, devicePath, arguments, environment);
    if (pid)
        *pid = child;
    return result;
}

id PlatformRunAndReadOutput(const char* devicePath, const char* const* arguments, size_t count)
{
    if (!devicePath)
        return nullptr;
    std::vector<std::string> list;
    for (size_t index = 0; index < count; ++index)
        list.emplace_back(arguments[index] ? arguments[index] : "");
    RunResult result = runAndReadOutput(devicePath, list, "/");
    if (!result.complete)
        return nullptr;
    static SEL const withBytes = ObjC::sel("dataWithBytes:length:");
    return ObjC::send<id>(ObjC::getClass("NSData"), withBytes, static_cast<const void*>(result.output.data()),
        static_cast<unsigned long>(result.output.size()));
}

id PlatformPropertyListWithContentsOfFile(const char* devicePath, PlatformFileState* state)
{
    auto path = hostPath(devicePath);
    auto file = path ? Plist::readFile(*path) : Plist::ReadResult {};
    if (state)
        *state = file.ok() ? PlatformFileRead : file.isMissing() ? PlatformFileMissing : PlatformFileUnreadable;
    return file.ok() ? foundationObject(file.value) : nullptr;
}

id PlatformPropertyListEntry(const char* devicePath, id key, PlatformFileState* state)
{
    auto path = hostPath(devicePath);
    auto name = stringValue(key);
    Plist::LookupResult entry;
    if (path && name)
        entry = Plist::lookup(*path, *name);
    if (state) {
        switch (entry.status) {
        case Plist::LookupStatus::Found:
        case Plist::LookupStatus::KeyAbsent:
            *state = PlatformFileRead;
            break;
        case Plist::LookupStatus::Missing:
            *state = PlatformFileMissing;
            break;
        case Plist::LookupStatus::Unreadable:
            *state = PlatformFileUnreadable;
            break;
        }
    }
    return entry.status == Plist::LookupStatus::Found ? foundationObject(entry.value) : nullptr;
}

BOOL PlatformWritePropertyListAtomically(const char* devicePath, id propertyList)
{
    auto path = hostPath(devicePath);
    auto value = propertyListValue(propertyList);
    return path && value && Plist::writeFileAtomically(*path, *value);
}

BOOL PlatformIsSystemVersionAtLeast(int major, int minor) { return isSystemVersionAtLeast(major, minor); }

void PlatformTrace(const char* report, const char* const* namesAndValues, size_t pairCount)
{
    if (!TraceDetail::listening() || !report)
        return;
    std::vector<TraceField> fields;
    fields.reserve(pairCount);
    for (size_t index = 0; index < pairCount; ++index)
        fields.push_back({ namesAndValues[2 * index], namesAndValues[2 * index + 1] });
    TraceDetail::deliver(report, fields);
}
}
