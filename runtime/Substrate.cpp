#include "runtime/Substrate.h"

#include "runtime/SubstrateJournal.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#if !defined(__x86_64__)
#error "inherited-method trampolines are written for x86_64"
#endif

namespace {

std::mutex s_lock;
std::vector<ObjC::HookRecord>& journal()
{
    static auto* records = new std::vector<ObjC::HookRecord>;
    return *records;
}

std::atomic<void (*)(const char*)> s_warningHandler { nullptr };

void warn(const std::string& line)
{
    if (auto handler = s_warningHandler.load(std::memory_order_acquire))
        handler(line.c_str());
    else
        std::fprintf(stderr, "%s\n", line.c_str());
}

std::string nameOf(Class cls) { return cls ? class_getName(cls) : "(nil)"; }
std::string nameOf(SEL selector) { return selector ? sel_getName(selector) : "(nil)"; }

void record(Class cls, SEL selector, ObjC::HookOutcome outcome, std::string reason = {})
{
    std::lock_guard guard(s_lock);
    journal().push_back({ nameOf(cls), nameOf(selector), outcome, std::move(reason) });
}

void skip(Class cls, SEL selector, const char* reason)
{
    warn("MSHookMessageEx: " + nameOf(cls) + " " + nameOf(selector) + ": " + reason + "; nothing hooked");
    record(cls, selector, ObjC::HookOutcome::Skipped, reason);
}

bool implementsItself(Class cls, Method method)
{
    unsigned count = 0;
    Method* methods = class_copyMethodList(cls, &count);
    bool found = false;
    for (unsigned index = 0; index < count && !found; ++index)
        found = methods[index] == method;
    std::free(methods);
    return found;
}

// Trampolines for inherited methods. Each of the assembly entries loads its index and
// jumps to common code that saves the argument registers, asks trampolineTarget for the
// implementation the superclass has now, restores them and jumps there: it works for any
// signature, since it touches neither the arguments nor the stack they may be on.
struct TrampolineEntry {
    Class cls;
    SEL selector;
};
constexpr unsigned trampolineCount = 256;
constexpr size_t trampolineSize = 16;
TrampolineEntry s_trampolines[trampolineCount];
unsigned s_trampolinesUsed = 0;

} // namespace

extern "C" {
__attribute__((visibility("hidden"))) extern const char kestrelSubstrateTrampolines[];

// Called from the trampolines with the argument registers saved.
__attribute__((visibility("hidden"))) IMP kestrelSubstrateTrampolineTarget(unsigned index)
{
    const TrampolineEntry& entry = s_trampolines[index];
    return class_getMethodImplementation(class_getSuperclass(entry.cls), entry.selector);
}
}

extern "C" void MSHookMessageEx(Class cls, SEL selector, IMP replacement, IMP* saved)
{
    if (!cls)
        return skip(cls, selector, "nil class");
    if (!selector)
        return skip(cls, selector, "nil selector");
    if (!replacement)
        return skip(cls, selector, "nil replacement");
    Method method = class_getInstanceMethod(cls, selector);
    if (!method)
        return skip(cls, selector, "no class in the hierarchy implements the selector");

    if (implementsItself(cls, method)) {
        IMP previous = method_getImplementation(method);
        if (saved)
            *saved = previous;
        method_setImplementation(method, replacement);
        __objc_update_dispatch_table_for_class(cls);
        return record(cls, selector, ObjC::HookOutcome::Replaced);
    }

    IMP trampoline;
    {
        std::lock_guard guard(s_lock);
        if (s_trampolinesUsed == trampolineCount)
            trampoline = nullptr;
        else {
            unsigned index = s_trampolinesUsed++;
            s_trampolines[index] = { cls, selector };
            trampoline = ObjC::Detail::functionCast<IMP>(const_cast<char*>(kestrelSubstrateTrampolines + index * trampolineSize));
        }
    }
    if (!trampoline)
        return skip(cls, selector, "no trampoline left for an inherited method");
    if (saved)
        *saved = trampoline;
    class_addMethod(cls, selector, replacement, method_getTypeEncoding(method));
    __objc_update_dispatch_table_for_class(cls);
    record(cls, selector, ObjC::HookOutcome::AddedOverride);
}

namespace ObjC {

void setHookWarningHandler(void (*handler)(const char*)) { s_warningHandler.store(handler, std::memory_order_release); }

namespace Detail {
void refuseHook(Class cls, SEL selector, const char* reason) { skip(cls, selector, reason); }
}

std::vector<HookRecord> hookJournal()
{
    std::lock_guard guard(s_lock);
    return journal();
}

void clearHookJournal()
{
    std::lock_guard guard(s_lock);
    journal().clear();
}

} // namespace ObjC
