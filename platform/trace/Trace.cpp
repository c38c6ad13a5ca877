#include "platform/trace/Trace.h"

#include "platform/trace/Sink.h"

namespace Platform {

namespace TraceDetail {

Sink<std::string_view, std::span<const TraceField>>& traceSink()
{
    static auto* sink = new Sink<std::string_view, std::span<const TraceField>>;
    return *sink;
}

bool listening() { return traceSink().listening(); }

void deliver(std::string_view report, std::span<const TraceField> fields) { traceSink().deliver(report, fields); }

} // namespace TraceDetail

void setTraceHook(TraceHook hook) { TraceDetail::traceSink().set(std::move(hook)); }

} // namespace Platform
