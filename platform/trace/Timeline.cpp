#include "platform/trace/Timeline.h"

#include "platform/trace/Sink.h"

namespace Platform {

namespace {

Sink<std::string_view>& timelineSink()
{
    static auto* sink = new Sink<std::string_view>;
    return *sink;
}

} // namespace

void setTimelineSink(TimelineSink sink) { timelineSink().set(std::move(sink)); }

void timeline(std::string_view event) { timelineSink().deliver(event); }

} // namespace Platform
