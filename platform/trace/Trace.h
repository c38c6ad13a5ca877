// The trace hook: reports from the system under test for whoever watches it (the
// simulator, the scenario checks), such as the outcome of an unlock decision and its
// reason. A report is one call; when nobody listens it costs a call, a load and a branch, and
// it never reaches the system log.
#pragma once

#include <functional>
#include <initializer_list>
#include <span>
#include <string_view>

namespace Platform {

struct TraceField {
    std::string_view name;
    std::string_view value;
};

using TraceHook = std::function<void(std::string_view report, std::span<const TraceField> fields)>;

// Replaces the hook (an empty function removes it), as the timeline's sink is replaced
// (platform/trace/Sink.h). Must not be called from inside the hook.
void setTraceHook(TraceHook);

namespace TraceDetail {
bool listening();
void deliver(std::string_view report, std::span<const TraceField>);
}

// Hands the report to the hook, if there is one. Safe from any thread; reports are serialised.
inline void trace(std::string_view report, std::initializer_list<TraceField> fields)
{
    if (TraceDetail::listening())
        TraceDetail::deliver(report, std::span<const TraceField>(fields.begin(), fields.size()));
}

} // namespace Platform
