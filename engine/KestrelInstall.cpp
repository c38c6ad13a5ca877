#include "engine/KestrelInstall.h"

#include "engine/EngineTesting.h"
#include "engine/Hooks.h"
#include "engine/PloverKestrel.h"
#include "platform/foundation/CoreFoundation.h"
#include "platform/fs/DeviceRoot.h"

#include <atomic>
#include <dlfcn.h>

using namespace Runtime;

namespace {

constexpr const char* companionLibraryPath = "/Library/MobileSubstrate/DynamicLibraries/Nightjar.dylib";

// Set by the first call, before anything is looked at: a second installation would hook the
// engine's own replacements, whose saved slots would then lead back into themselves.
std::atomic<bool> s_installed { false };

bool isSpringBoard()
{
    auto processInfo = send<RefPtr<Object>>(classFromString("NSProcessInfo"), "processInfo");
    auto arguments = send<RefPtr<Object>>(processInfo, "arguments");
    if (!send<uint64_t>(arguments, "count"))
        return false;
    auto first = send<RefPtr<Object>>(arguments, "objectAtIndexedSubscript:", uint64_t(0));
    if (!first)
        return false;
    auto name = send<RefPtr<Object>>(first, "lastPathComponent");
    return send<bool>(name, "isEqualToString:", NSString::create("SpringBoard"));
}

// The companion's window class, hooked only when its library is installed. A
// platform exception anywhere in here costs the companion hooks not yet in
// place, never the main ones.
void installCompanionHooks()
{
    try {
        if (!Platform::fileExists(companionLibraryPath))
            return;
        dlopen(Platform::resolve(companionLibraryPath).c_str(), RTLD_NOW);
        Class* window = getClass("PloverAlwaysOnWindow");
        MSHookMessageEx(window, sel("handleTapFrom:"), &Hooks::handleTapFrom, &Hooks::savedHandleTapFrom);
        MSHookMessageEx(window, sel("handleDoubleTapFrom:"), &Hooks::handleDoubleTapFrom, &Hooks::savedHandleDoubleTapFrom);
        MSHookMessageEx(window, sel("hide"), &Hooks::hide, &Hooks::savedHide);
        MSHookMessageEx(window, sel("postHideSettings"), &Hooks::postHideSettings, &Hooks::savedPostHideSettings);
    } catch (const NSException&) {
    }
}

} // namespace

void kestrelInstall()
{
    if (s_installed.exchange(true))
        return;
    if (!isSpringBoard())
        return;

    installCompanionHooks();

    bool modern = Platform::isSystemVersionAtLeast(13, 0);
    const char* quickActionsName = modern ? "CSQuickActionsViewController" : "SBDashBoardQuickActionsViewController";
    const char* notificationListName = modern ? "CSCombinedListViewController" : "NCNotificationCombinedListViewController";

    MSHookMessageEx(getClass("SBLockScreenManager"), sel("_attemptUnlockWithPasscode:mesa:finishUIUnlock:completion:"),
        &Hooks::attemptUnlock, &Hooks::savedAttemptUnlock);
    Class* quickActions = classFromString(quickActionsName);
    MSHookMessageEx(quickActions, sel("flashlightLevelDidChange:"), &Hooks::flashlightLevelDidChange,
        &Hooks::savedFlashlightLevelDidChange);
    MSHookMessageEx(quickActions, sel("viewWillAppear:"), &Hooks::viewWillAppear, &Hooks::savedViewWillAppear);
    MSHookMessageEx(getClass("SpringBoard"), sel("applicationDidFinishLaunching:"), &Hooks::applicationDidFinishLaunching,
        &Hooks::savedApplicationDidFinishLaunching);
    MSHookMessageEx(classFromString(notificationListName), sel("init"), &Hooks::notificationListInit,
        &Hooks::savedNotificationListInit);
    MSHookMessageEx(getClass("SBUIBiometricResource"), sel("_notifyObserversOfEvent:"), &Hooks::notifyObserversOfEvent,
        &Hooks::savedNotifyObserversOfEvent);
    MSHookMessageEx(getClass("SBCoverSheetWindow"), sel("hitTest:withEvent:"), &Hooks::hitTest, &Hooks::savedHitTest);
}

void kestrelResetForTesting()
{
    Hooks::savedHandleTapFrom.clear();
    Hooks::savedHandleDoubleTapFrom.clear();
    Hooks::savedHide.clear();
    Hooks::savedPostHideSettings.clear();
    Hooks::savedAttemptUnlock.clear();
    Hooks::savedFlashlightLevelDidChange.clear();
    Hooks::savedViewWillAppear.clear();
    Hooks::savedApplicationDidFinishLaunching.clear();
    Hooks::savedNotificationListInit.clear();
    Hooks::savedNotifyObserversOfEvent.clear();
    Hooks::savedHitTest.clear();
    resetSharedStateForTesting();
    s_installed.store(false);
}
