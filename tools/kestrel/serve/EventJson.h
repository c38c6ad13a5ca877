// The session's events as the page reads them: one JSON object per event, typed, with the
// fields of its kind ({"type": "decision", "outcome": "blocked", "reason": "music", ...}).
// Every object also carries "seq", "t" (seconds) and "line", the timeline line, which is
// there to be shown and never to be read.
#pragma once

#include "tools/kestrel/scenario/DeviceSession.h"

#include <nlohmann/json.hpp>

namespace Kestrel {

// An event's "type". The device's notes of known forms each have theirs; any other note
// is a "note" with its text.
enum class EventType {
    Attempt,
    Retry,
    Decision,
    DelayedUnlock,
    Device,
    Lockscreen,
    Notification,
    Audio,
    Flashlight,
    Touch,
    BiometricEvent,
    Match,
    Launch,
    Restart,
    Note,
};
// A notification event's "change" and a restart event's "phase".
enum class NotificationChange { Added, Cleared };
enum class RestartPhase { Started, Exited, GivenUp };

// A retry event's "step": the engine's call on the biometric resource, in the page's words
// (the wire's "set-authenticated=no" would read as a setting).
struct RetrySteps {
    static constexpr std::array words { "authentication-cleared", "authenticated", "screen-off", "screen-on" };
    static constexpr auto last = Driver::BiometricCall::Kind::ScreenOn;
};

nlohmann::json eventJson(const SessionEvent&);

} // namespace Kestrel

template <> struct Driver::Names<Kestrel::EventType> {
    static constexpr std::array words { "attempt", "retry", "decision", "delayed-unlock", "device", "lockscreen",
        "notification", "audio", "flashlight", "touch", "biometric-event", "match", "launch", "restart", "note" };
    static constexpr auto last = Kestrel::EventType::Note;
};
template <> struct Driver::Names<Kestrel::NotificationChange> {
    static constexpr std::array words { "added", "cleared" };
    static constexpr auto last = Kestrel::NotificationChange::Cleared;
};
template <> struct Driver::Names<Kestrel::RestartPhase> {
    static constexpr std::array words { "started", "exited", "given-up" };
    static constexpr auto last = Kestrel::RestartPhase::GivenUp;
};
