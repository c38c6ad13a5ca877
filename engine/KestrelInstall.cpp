#include "engine/KestrelInstall.h"

#include "engine/EngineTesting.h"
#include "engine/Hooks.h"
#include "platform/foundation/PlatformCalls.h"
#include "runtime/Substrate.h"

using namespace ObjC;

namespace {

constexpr const char* companionLibraryPath = KESTREL_JAILBREAK_PATH("/Library/MobileSubstrate/DynamicLibraries/Nightjar.dylib");
// dlopen's RTLD_NOW, the same number on every system the engine runs on.
constexpr int openNow = 2;

// Set by the first call, before anything is looked at: a second installation would hook the
// engine's own replacements, whose saved slots would then lead back into themselves.
bool s_installed = false;

// What each installed hook replaced, for the test seam that takes the hooks out again.
struct InstalledHook {
    Class cls;
    SEL selector;
    IMP replacement;
    IMP* saved;
};
constexpr size_t hookCount = 11;
InstalledHook s_installedHooks[hookCount];
size_t s_installedCount = 0;

template<typename R, typename... A>
void install(Class cls, const char* selector, R (*replacement)(id, SEL, A...), R (**saved)(id, SEL, A...))
{
    SEL name = sel(selector);
    hookMessage(cls, name, replacement, saved);
    if (s_installedCount < hookCount)
        s_installedHooks[s_installedCount++]
            = { cls, name, Detail::functionCast<IMP>(replacement), reinterpret_cast<IMP*>(saved) };
}

bool isSpringBoard()
{
    static SEL const processInfo = sel("processInfo");
    static SEL const arguments = sel("arguments");
    static SEL const count = sel("count");
    static SEL const objectAtIndex = sel("objectAtIndex:");
    static SEL const lastPathComponent = sel("lastPathComponent");
    id argumentList = send<id>(send<id>(getClass("NSProcessInfo"), processInfo), arguments);
    if (!send<unsigned long>(argumentList, count))
        return false;
    id name = send<id>(send<id>(argumentList, objectAtIndex, 0ul), lastPathComponent);
    return isEqualToString(name, "SpringBoard");
}

// The companion's window class, hooked only when its library is installed. An exception
// anywhere in here (the runtime's, raised by a class it asks) costs the companion hooks not
// yet in place, never the main ones.
void installCompanionHooks()
{
    try {
        if (!PlatformFileExists(companionLibraryPath))
            return;
        PlatformOpenLibrary(companionLibraryPath, openNow);
        Class window = getClass("PloverAlwaysOnWindow");
        install(window, "handleTapFrom:", &Hooks::handleTapFrom, &Hooks::savedHandleTapFrom);
        install(window, "handleDoubleTapFrom:", &Hooks::handleDoubleTapFrom, &Hooks::savedHandleDoubleTapFrom);
        install(window, "hide", &Hooks::hide, &Hooks::savedHide);
        install(window, "postHideSettings", &Hooks::postHideSettings, &Hooks::savedPostHideSettings);
    } catch (...) {
    }
}

} // namespace

void kestrelInstall()
{
    if (s_installed)
        return;
    s_installed = true;
    if (!isSpringBoard())
        return;

    installCompanionHooks();

    bool modern = PlatformIsSystemVersionAtLeast(13, 0);
    const char* quickActionsName = modern ? "CSQuickActionsViewController" : "SBDashBoardQuickActionsViewController";
    const char* notificationListName
        = modern ? "CSCombinedListViewController" : "NCNotificationCombinedListViewController";

    install(getClass("SBLockScreenManager"),
        "_attemptUnlockWithPasscode:mesa:finishUIUnlock:completion:", &Hooks::attemptUnlock,
        &Hooks::savedAttemptUnlock);
    Class quickActions = classFromString(quickActionsName);
    install(quickActions, "flashlightLevelDidChange:", &Hooks::flashlightLevelDidChange,
        &Hooks::savedFlashlightLevelDidChange);
    install(quickActions, "viewWillAppear:", &Hooks::viewWillAppear, &Hooks::savedViewWillAppear);
    install(getClass("SpringBoard"), "applicationDidFinishLaunching:", &Hooks::applicationDidFinishLaunching,
        &Hooks::savedApplicationDidFinishLaunching);
    install(
        classFromString(notificationListName), "init", &Hooks::notificationListInit, &Hooks::savedNotificationListInit);
    install(getClass("SBUIBiometricResource"), "_notifyObserversOfEvent:", &Hooks::notifyObserversOfEvent,
        &Hooks::savedNotifyObserversOfEvent);
    install(getClass("SBCoverSheetWindow"), "hitTest:withEvent:", &Hooks::hitTest, &Hooks::savedHitTest);
}

void kestrelResetForTesting()
{
    // Last in, first out, so a method hooked twice ends with what it had first.
    while (s_installedCount) {
        InstalledHook& hook = s_installedHooks[--s_installedCount];
        Method method = *hook.saved ? class_getInstanceMethod(hook.cls, hook.selector) : nullptr;
        if (method && method_getImplementation(method) == hook.replacement) {
            // Substrate's own call puts the saved implementation back in the replacement's place.
            IMP replaced = nullptr;
            MSHookMessageEx(hook.cls, hook.selector, *hook.saved, &replaced);
        }
        *hook.saved = nullptr;
    }
    resetSharedStateForTesting();
    s_installed = false;
}
