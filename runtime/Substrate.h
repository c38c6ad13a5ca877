// Substrate's method hooking, on the device's runtime, and the typed form the system calls.
//
// MSHookMessageEx(cls, selector, replacement, &saved):
// - cls implements the selector itself: `saved` receives the current implementation, then the
//   replacement takes its place (for cls and every subclass that inherits it);
// - the selector is only inherited: the replacement is added on cls itself, and `saved`
//   receives a trampoline that looks the superclass's implementation up each time it is
//   called, so a later hook there is reached;
// - a nil class, selector or replacement, or a selector nobody implements: nothing is
//   installed, `saved` is left alone, one warning line goes to the system log.
#pragma once

#include "runtime/ObjC.h"

extern "C" void MSHookMessageEx(Class cls, SEL selector, IMP replacement, IMP* saved);

namespace ObjC {

// Where hooking warnings go; the platform points it at the system log (stderr until then).
void setHookWarningHandler(void (*)(const char* line));

namespace Detail {
// A typed hook refused before it reached Substrate: warned and journalled as skipped.
void refuseHook(Class, SEL, const char* reason);
}

// MSHookMessageEx for a replacement of type R (id, SEL, A...), whose saved slot has the same
// type. A method whose type encoding is not that is left alone, with a warning.
template<typename R, typename... A> void hookMessage(Class cls, SEL selector, R (*replacement)(id, SEL, A...), R (**saved)(id, SEL, A...))
{
    // (Where BOOL is bool, as on Apple's arm64, there is nothing to tell apart.)
    static_assert(std::is_same_v<BOOL, bool> || !(std::is_same_v<R, bool> || ... || std::is_same_v<A, bool>),
        "the runtime passes BOOL, not bool: declare the replacement with BOOL");
#if KESTREL_OBJC_APPLE
    // What the device's MSHookMessageEx refuses, refused before Substrate's own is called: its
    // documentation does not say what it does with these.
    const char* refusal = !cls ? "nil class"
        : !selector            ? "nil selector"
        : !replacement         ? "nil replacement"
        : !class_getInstanceMethod(cls, selector) ? "no class in the hierarchy implements the selector"
                                                  : nullptr;
    if (refusal) {
        Detail::refuseHook(cls, selector, refusal);
        return;
    }
#endif
    if (cls && selector && replacement) {
        if (Method method = class_getInstanceMethod(cls, selector)) {
            using Parts = Detail::SignatureParts<R, A...>;
            if (!Detail::encodingMatches(method_getTypeEncoding(method), Parts::parts, Parts::count)) {
                Detail::refuseHook(cls, selector, "the replacement's type encoding differs from the method's");
                return;
            }
        }
    }
    MSHookMessageEx(cls, selector, ObjC::Detail::functionCast<IMP>(replacement), reinterpret_cast<IMP*>(saved));
}

} // namespace ObjC
