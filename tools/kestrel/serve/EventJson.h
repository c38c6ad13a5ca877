// The session's events as the page reads them: one JSON object per event, typed, with the
// fields of its kind ({"type": "decision", "outcome": "blocked", "reason": "music", ...}).
// Every object also carries "seq", "t" (seconds) and "line", the timeline line, which is
// there to be shown and never to be read.
#pragma once

#include "tools/kestrel/scenario/DeviceSession.h"

#include <nlohmann/json.hpp>

namespace Kestrel {

nlohmann::json eventJson(const SessionEvent&);

} // namespace Kestrel
