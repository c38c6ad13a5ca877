#include "platform/trace/Timeline.h"

#include <mutex>

namespace Platform {

namespace {

// Never destroyed: threads that outlive main (child reapers) may still emit events.
struct TimelineState {
    std::recursive_mutex lock;
    TimelineSink sink;
};

TimelineState& timelineState()
{
    static auto* state = new TimelineState;
    return *state;
}

} // namespace

void setTimelineSink(TimelineSink sink)
{
    auto& state = timelineState();
    std::lock_guard guard(state.lock);
    state.sink = std::move(sink);
}

void timeline(std::string_view event)
{
    auto& state = timelineState();
    std::lock_guard guard(state.lock);
    if (state.sink)
        state.sink(event);
}

} // namespace Platform
