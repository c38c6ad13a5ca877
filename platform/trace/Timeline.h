// The timeline: the process-wide sink for observable events ("spawn ...", "log ...").
// The host decides where events go and stamps them with time; the platform only emits them.
// It is a Sink (platform/trace/Sink.h), as the trace hook is.
#pragma once

#include <functional>
#include <string_view>

namespace Platform {

using TimelineSink = std::function<void(std::string_view event)>;

// Replaces the sink (an empty function removes it). Once this returns, the previous sink is
// never called again, so a sink may capture state that dies right after it is replaced.
// Must not be called from inside the sink.
void setTimelineSink(TimelineSink);

// Hands one event to the sink; does nothing without one. Safe from any thread. Calls are
// serialised, so the sink sees events one at a time and may emit events itself.
void timeline(std::string_view event);

} // namespace Platform
