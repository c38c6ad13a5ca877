#include "runtime/Hook.h"
#include "runtime/RuntimeTesting.h"

#include <functional>
#include <mutex>
#include <optional>

namespace Runtime {

namespace {

std::mutex s_journalLock;
std::vector<HookRecord>& journal()
{
    static auto* records = new std::vector<HookRecord>;
    return *records;
}

void record(Class* cls, Selector selector, HookOutcome outcome, std::string reason = {})
{
    std::lock_guard guard(s_journalLock);
    journal().push_back({ cls ? cls->name() : "(nil)", std::string(selector.name()), outcome, std::move(reason) });
}

void skip(Class* cls, Selector selector, std::string reason)
{
    warn("MSHookMessageEx: not hooking " + std::string(cls ? cls->name() : "(nil class)") + " "
        + std::string(selector.name()) + ": " + reason);
    record(cls, selector, HookOutcome::Skipped, std::move(reason));
}

// Why a replacement cannot stand in for the method, or nothing when it can. A replacement of
// another type is refused like a missing selector, never installed: a companion library of
// another version must cost its own hooks, not the process.
std::optional<std::string> signatureMismatch(const Method& method, const std::type_info& signature)
{
    try {
        method.checkSignatureSlow(signature);
        return std::nullopt;
    } catch (const SignatureMismatch& mismatch) {
        return "replacement has another signature: " + std::string(mismatch.what());
    }
}

} // namespace

std::vector<HookRecord> hookJournal()
{
    std::lock_guard guard(s_journalLock);
    return journal();
}

void clearHookJournal()
{
    std::lock_guard guard(s_journalLock);
    journal().clear();
}

static std::function<void(Class*, Selector)>& interceptor()
{
    static auto* function = new std::function<void(Class*, Selector)>;
    return *function;
}

void setHookInterceptorForTesting(std::function<void(Class*, Selector)> function)
{
    std::lock_guard guard(s_journalLock);
    interceptor() = std::move(function);
}

void hookMessageErased(Class* cls, Selector selector, Imp replacement, const std::type_info& signature, SavedSlot* saved)
{
    std::function<void(Class*, Selector)> intercept;
    {
        std::lock_guard guard(s_journalLock);
        intercept = interceptor();
    }
    if (intercept)
        intercept(cls, selector);
    if (!cls)
        return skip(cls, selector, "nil class");
    if (selector.isNull())
        return skip(cls, selector, "nil selector");
    if (!replacement)
        return skip(cls, selector, "nil replacement");

    if (Method* own = cls->ownMethod(selector)) {
        if (auto mismatch = signatureMismatch(*own, signature))
            return skip(cls, selector, std::move(*mismatch));
        if (saved) {
            saved->lookupFrom.store(nullptr);
            saved->implementation.store(own->implementation(), std::memory_order_release);
        }
        own->setImplementation(replacement);
        record(cls, selector, HookOutcome::Replaced);
        return;
    }

    const Method* inherited = cls->superclass() ? cls->superclass()->lookup(selector) : nullptr;
    if (!inherited)
        return skip(cls, selector, "selector not found");
    if (auto mismatch = signatureMismatch(*inherited, signature))
        return skip(cls, selector, std::move(*mismatch));
    if (saved) {
        saved->implementation.store(nullptr);
        saved->lookupFrom.store(cls->superclass(), std::memory_order_release);
    }
    cls->addMethod(selector, replacement, signature);
    record(cls, selector, HookOutcome::AddedOverride);
}

} // namespace Runtime
