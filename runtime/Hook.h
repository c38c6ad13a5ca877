// Method replacement with Substrate's MSHookMessageEx semantics, and a journal
// of every hooking call so tests can see what was installed and in what order.
//
// - The class implements the selector itself: the saved slot receives the
//   current implementation, then the replacement takes its place.
// - The selector is only inherited: the replacement is added on the class
//   itself, and the saved slot becomes a trampoline that looks the superclass's
//   implementation up each time it is called (so a later hook there is reached).
// - A nil class, nil selector, nil replacement, a selector the class does not
//   respond to, or a replacement whose signature is not the method's: nothing
//   is installed, the slot is left as it was, a warning goes to the system log,
//   the journal records the row as skipped with the reason, and the call returns.
#pragma once

#include "runtime/Message.h"

#include <string>
#include <vector>

namespace Runtime {

// The erased form of a saved slot.
struct SavedSlot {
    std::atomic<Imp> implementation { nullptr };
    // In trampoline form: where the call-time lookup starts.
    std::atomic<Class*> lookupFrom { nullptr };
};

template<typename Signature> class SavedImplementation;

// The implementation a hook replaced. Call it with the receiver and selector
// the replacement itself received.
template<typename R, typename... A> class SavedImplementation<R(A...)> {
public:
    using Function = R (*)(Object*, Selector, A...);

    bool isSet() const { return m_slot.implementation.load() || m_slot.lookupFrom.load(); }
    void clear()
    {
        m_slot.implementation.store(nullptr);
        m_slot.lookupFrom.store(nullptr);
    }

    R operator()(Object* self, Selector selector, A... args) const
    {
        if (auto function = reinterpret_cast<Function>(m_slot.implementation.load(std::memory_order_acquire))) [[likely]]
            return function(self, selector, std::forward<A>(args)...);
        Class* from = m_slot.lookupFrom.load(std::memory_order_acquire);
        if (!from)
            throw std::logic_error("called an empty saved implementation for " + std::string(selector.name()));
        return Detail::invoke<R>(from->lookup(selector), self, selector, std::forward<A>(args)...);
    }

    SavedSlot* slot() { return &m_slot; }

private:
    SavedSlot m_slot;
};

enum class HookOutcome { Replaced, AddedOverride, Skipped };

struct HookRecord {
    std::string className; // "(nil)" for a nil class
    std::string selector;
    HookOutcome outcome;
    std::string reason; // why a hook was skipped
};

std::vector<HookRecord> hookJournal();
void clearHookJournal();

void hookMessageErased(Class*, Selector, Imp replacement, const std::type_info& signature, SavedSlot*);

template<typename R, typename... A>
void MSHookMessageEx(Class* cls, Selector selector, R (*replacement)(Object*, Selector, A...),
    SavedImplementation<R(A...)>* saved)
{
    hookMessageErased(cls, selector, reinterpret_cast<Imp>(replacement), typeid(R(A...)), saved ? saved->slot() : nullptr);
}

} // namespace Runtime
