#include "platform/trace/Trace.h"

#include <mutex>

namespace Platform {

namespace TraceDetail {

std::atomic<bool> s_listening { false };

namespace {

// Never destroyed: a report may come from a thread that outlives main.
struct HookState {
    std::mutex lock;
    TraceHook hook;
};

HookState& hookState()
{
    static auto* state = new HookState;
    return *state;
}

} // namespace

void deliver(std::string_view report, std::span<const TraceField> fields)
{
    TraceHook hook;
    {
        std::lock_guard guard(hookState().lock);
        hook = hookState().hook;
    }
    if (hook)
        hook(report, fields);
}

} // namespace TraceDetail

void setTraceHook(TraceHook hook)
{
    auto& state = TraceDetail::hookState();
    std::lock_guard guard(state.lock);
    TraceDetail::s_listening.store(bool(hook), std::memory_order_release);
    state.hook = std::move(hook);
}

} // namespace Platform
