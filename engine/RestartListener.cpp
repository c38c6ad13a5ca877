// The restart listener: once the home screen has finished launching, every restart
// notification starts "killall -9 SpringBoard".
#include "engine/Hooks.h"
#include "platform/foundation/PlatformCalls.h"

using namespace ObjC;

__attribute__((visibility("default"))) const char* respringStr = "com.plover.kestrel.respring";

namespace Hooks {

void (*savedApplicationDidFinishLaunching)(id, SEL, id);

namespace {

void restartCallback(CFNotificationCenterRef, void*, CFStringRef, const void*, CFDictionaryRef)
{
    static char killall[] = "killall";
    static char nine[] = "-9";
    static char springBoard[] = "SpringBoard";
    char* const arguments[] = { killall, nine, springBoard, nullptr };
    // An empty environment, not a null one: the child gets no variables either way, and a
    // null vector is not something every posix_spawn accepts. The platform reaps the child
    // when it ends, so a killall that kills nothing leaves no zombie.
    char* const environment[] = { nullptr };
    int pid;
    PlatformSpawn(&pid, KESTREL_JAILBREAK_PATH("/usr/bin/killall"), arguments, environment);
}

} // namespace

void applicationDidFinishLaunching(id self, SEL cmd, id application)
{
    savedApplicationDidFinishLaunching(self, cmd, application);
    CFNotificationCenterAddObserver(CFNotificationCenterGetDarwinNotifyCenter(), nullptr, &restartCallback,
        reinterpret_cast<CFStringRef>(string(respringStr)), nullptr,
        CFNotificationSuspensionBehaviorDeliverImmediately);
}

} // namespace Hooks
