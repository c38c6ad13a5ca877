// The restart listener: once the home screen has finished launching, every
// restart notification starts "killall -9 SpringBoard".
#include "engine/Hooks.h"
#include "platform/notify/CFNotificationCenter.h"
#include "platform/process/Spawn.h"

using namespace Runtime;

__attribute__((visibility("default"))) const char* respringStr = "com.plover.kestrel.respring";

namespace Hooks {

SavedImplementation<void(Object*)> savedApplicationDidFinishLaunching;

namespace {

void restartCallback(CFNotificationCenterRef, void*, std::string_view, const void*, const void*)
{
    pid_t pid;
    // An empty environment, not a null one: the child gets no variables either way,
    // and a null vector is not something every posix_spawn accepts. The platform
    // reaps the child when it ends, so a killall that kills nothing leaves no zombie.
    Platform::spawn(&pid, "/usr/bin/killall", { "killall", "-9", "SpringBoard" }, {});
}

} // namespace

void applicationDidFinishLaunching(Object* self, Selector cmd, Object* application)
{
    savedApplicationDidFinishLaunching(self, cmd, application);
    CFNotificationCenterAddObserver(CFNotificationCenterGetDarwinNotifyCenter(), nullptr, &restartCallback, respringStr,
        nullptr, CFNotificationSuspensionBehaviorDeliverImmediately);
}

} // namespace Hooks
