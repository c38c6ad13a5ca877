// The driver protocol: every message between the kestrel command and the SpringBoard it
// supervises (the boot configuration, the commands, their replies, the timeline events),
// one message per line over the channel on descriptor 3. Both ends use these types and
// this encoding, and nothing else speaks to SpringBoard.
//
// A message is a struct with a tag and its fields, listed once for both directions:
//     static constexpr std::string_view tag = "attempt";
//     template<typename Fields> void fields(Fields& f) { f("mesa", mesa); ... }
// and travels as `TAG key=value ...`. Text is hex-encoded on the wire (x4142, `-` for
// nil), so any bytes survive; an optional field that is absent is left out.
#pragma once

#include "host/device/Words.h"
#include "platform/foundation/CoreFoundation.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace Driver {

// The words of an enum, one for each value in the order of the values: the one table the
// wire, the timeline, the scenario language and the simulator page all take them from.
// Each table is specialised next to its enum, with `last` its last value.
template<typename E> struct Names;
template<typename E>
concept Named = requires
{
    Names<E>::words;
    Names<E>::last;
};

// Any table of that shape is read and written alike: Names<E>, or the words one reader uses
// for an enum that has its Names already (the simulator page's retry steps).
template<typename Table> using TableEnum = std::remove_cv_t<decltype(Table::last)>;
template<typename Table> constexpr const char* wordIn(TableEnum<Table> value)
{
    static_assert(Table::words.size() == size_t(Table::last) + 1, "one word for each value");
    return Table::words.at(size_t(value));
}
template<typename Table> constexpr std::optional<TableEnum<Table>> valueIn(std::string_view word)
{
    static_assert(Table::words.size() == size_t(Table::last) + 1, "one word for each value");
    for (size_t i = 0; i < Table::words.size(); ++i) {
        if (word == Table::words[i])
            return TableEnum<Table>(i);
    }
    return std::nullopt;
}

template<Named E> constexpr const char* name(E value) { return wordIn<Names<E>>(value); }
template<Named E> constexpr std::optional<E> named(std::string_view word) { return valueIn<Names<E>>(word); }

// A fact of the device with two states, as the timeline's notes ("lockscreen shown"), the
// `state` line (lockscreen=shown), the scenario's checks and the simulator page name it.
struct Fact {
    const char* subject;
    Device::BoolWords words;
    std::string line(bool value) const { return std::string(subject) + ' ' + words(value); }
    // The state a line of line()'s form names.
    std::optional<bool> readLine(std::string_view text) const
    {
        std::string_view prefix(subject);
        if (!text.starts_with(prefix) || text.size() <= prefix.size() || text[prefix.size()] != ' ')
            return std::nullopt;
        return words.read(text.substr(prefix.size() + 1));
    }
};
namespace Facts {
inline constexpr Fact lockscreen { "lockscreen", { "shown", "dismissed" } };
inline constexpr Fact device { "device", { "locked", "unlocked" } };
inline constexpr Fact audio { "audio", { "playing", "stopped" } };
inline constexpr Fact companion { "companion", { "installed", "absent" } };
} // namespace Facts

enum class NotificationRoute { Priority, Structured, None };
template<> struct Names<NotificationRoute> {
    static constexpr std::array words { "priority", "structured", "none" };
    static constexpr auto last = NotificationRoute::None;
};
enum class AodAction { Tap, DoubleTap, Hide, PostHide };
template<> struct Names<AodAction> {
    static constexpr std::array words { "tap", "double-tap", "hide", "post-hide" };
    static constexpr auto last = AodAction::PostHide;
};

// --- From the driver: the boot configuration, then requests. ---

struct Boot {
    static constexpr std::string_view tag = "boot";
    bool virtualClock { true };
    int64_t now { 0 }; // the virtual clock's start, in nanoseconds
    int64_t origin { 0 }; // real-time runs stamp events relative to this monotonic instant
    Platform::SystemVersion ios { 14, 0, 0 };
    std::optional<double> coreFoundation; // overrides the profile's number
    std::optional<NotificationRoute> route; // overrides the profile's route
    bool finishLaunching { true };
    int generation { 1 };
    template<typename F> void fields(F& f)
    {
        f("virtual-clock", virtualClock), f("now", now), f("origin", origin), f("ios", ios), f("cf", coreFoundation);
        f("route", route), f("finish-launching", finishLaunching), f("generation", generation);
    }
};

// What a person or the world does to the device.
struct FaceMatch {
    static constexpr std::string_view tag = "face-match";
    template<typename F> void fields(F&) { }
};
struct FaceFail {
    static constexpr std::string_view tag = "face-fail";
    template<typename F> void fields(F&) { }
};
struct FaceEvent {
    static constexpr std::string_view tag = "face-event";
    int64_t event { 0 };
    template<typename F> void fields(F& f) { f("event", event); }
};
// The outcome of the next match the biometric resource starts by itself.
struct FaceNext {
    static constexpr std::string_view tag = "face-next";
    bool match { true };
    template<typename F> void fields(F& f) { f("match", match); }
};
struct Attempt {
    static constexpr std::string_view tag = "attempt";
    std::optional<std::string> passcode;
    bool mesa { false };
    bool finish { false };
    template<typename F> void fields(F& f) { f("passcode", passcode), f("mesa", mesa), f("finish", finish); }
};
struct Touch {
    static constexpr std::string_view tag = "touch";
    template<typename F> void fields(F&) { }
};
struct Aod {
    static constexpr std::string_view tag = "aod";
    AodAction action { AodAction::Tap };
    template<typename F> void fields(F& f) { f("action", action); }
};
struct QuickActionsAppear {
    static constexpr std::string_view tag = "quick-actions-appear";
    template<typename F> void fields(F&) { }
};
struct Flashlight {
    static constexpr std::string_view tag = "flashlight";
    int64_t level { 0 };
    template<typename F> void fields(F& f) { f("level", level); }
};
struct Audio {
    static constexpr std::string_view tag = "audio";
    bool playing { false };
    template<typename F> void fields(F& f) { f("playing", playing); }
};
struct NotificationAdd {
    static constexpr std::string_view tag = "notification-add";
    std::optional<std::string> section; // nil: a request without a section identifier
    template<typename F> void fields(F& f) { f("section", section); }
};
struct NotificationClear {
    static constexpr std::string_view tag = "notification-clear";
    template<typename F> void fields(F&) { }
};
struct NotificationNewController {
    static constexpr std::string_view tag = "notification-new-controller";
    template<typename F> void fields(F&) { }
};
struct HostAttemptResult {
    static constexpr std::string_view tag = "host-attempt-result";
    bool result { true };
    template<typename F> void fields(F& f) { f("result", result); }
};
struct HostUILocked {
    static constexpr std::string_view tag = "host-ui-locked";
    bool locked { true };
    template<typename F> void fields(F& f) { f("locked", locked); }
};
struct Lock {
    static constexpr std::string_view tag = "lock";
    template<typename F> void fields(F&) { }
};
struct FinishLaunching {
    static constexpr std::string_view tag = "finish-launching";
    template<typename F> void fields(F&) { }
};

// The driver's own requests.
struct Advance {
    static constexpr std::string_view tag = "advance";
    int64_t nanoseconds { 0 };
    template<typename F> void fields(F& f) { f("nanoseconds", nanoseconds); }
};
struct QueryState {
    static constexpr std::string_view tag = "query-state";
    template<typename F> void fields(F&) { }
};
// Answered once every notification posted before it has been handled.
struct DrainNotify {
    static constexpr std::string_view tag = "drain-notify";
    template<typename F> void fields(F&) { }
};

using DeviceCommand = std::variant<FaceMatch, FaceFail, FaceEvent, FaceNext, Attempt, Touch, Aod, QuickActionsAppear,
    Flashlight, Audio, NotificationAdd, NotificationClear, NotificationNewController, HostAttemptResult, HostUILocked,
    Lock, FinishLaunching>;
using Request = std::variant<FaceMatch, FaceFail, FaceEvent, FaceNext, Attempt, Touch, Aod, QuickActionsAppear, Flashlight,
    Audio, NotificationAdd, NotificationClear, NotificationNewController, HostAttemptResult, HostUILocked, Lock,
    FinishLaunching, Advance, QueryState, DrainNotify>;
Request toRequest(const DeviceCommand&);

// --- From SpringBoard: replies and events. ---

struct DeviceState {
    static constexpr std::string_view tag = "state";
    bool deviceLocked { true };
    bool lockscreenShown { true };
    bool launched { false };
    bool audioPlaying { false };
    int64_t flashlightLevel { 0 };
    std::vector<std::optional<std::string>> notifications; // section identifiers, in order
    Platform::SystemVersion ios { 14, 0, 0 };
    double coreFoundation { 0 };
    bool companionInstalled { false };
    template<typename F> void fields(F& f)
    {
        f("device-locked", deviceLocked), f("lockscreen-shown", lockscreenShown), f("launched", launched);
        f("audio-playing", audioPlaying), f("flashlight", flashlightLevel), f("notifications", notifications);
        f("ios", ios), f("cf", coreFoundation), f("companion", companionInstalled);
    }
};
// The request was carried out (and, in virtual time, the work it made due ran too).
struct Done {
    static constexpr std::string_view tag = "done";
    template<typename F> void fields(F&) { }
};
struct Refused {
    static constexpr std::string_view tag = "refused";
    std::string error;
    template<typename F> void fields(F& f) { f("error", error); }
};
struct Drained {
    static constexpr std::string_view tag = "drained";
    uint64_t spawned { 0 }; // children started since the last drain
    template<typename F> void fields(F& f) { f("spawned", spawned); }
};
using Reply = std::variant<Done, Refused, DeviceState, Drained>;

// The host's own unlock attempt, as it was called.
struct AttemptCall {
    static constexpr std::string_view tag = "attempt";
    std::optional<std::string> passcode;
    bool mesa { false };
    bool finish { false };
    bool result { false };
    template<typename F> void fields(F& f) { f("passcode", passcode), f("mesa", mesa), f("finish", finish), f("result", result); }
};
// A call on the biometric resource that only the system under test makes.
struct BiometricCall {
    enum class Kind { SetAuthenticatedNo, SetAuthenticatedYes, ScreenOff, ScreenOn };
    static constexpr std::string_view tag = "biometric";
    Kind kind { Kind::ScreenOn };
    template<typename F> void fields(F& f) { f("kind", kind); }
};
template<> struct Names<BiometricCall::Kind> {
    static constexpr std::array words { "set-authenticated=no", "set-authenticated=yes", "screen-off", "screen-on" };
    static constexpr auto last = BiometricCall::Kind::ScreenOn;
};
// The engine's unlock decision, as it reported it: the outcome and, where one
// condition decided it, the reason.
struct Decision {
    enum class Outcome { Blocked, PassThrough, TouchHold, UnlockNow, DelayNotBiometric, DelayRefused, DelayScheduled };
    enum class Reason { None, Music, Flashlight, External, Notifications, Disabled, ReSend };
    static constexpr std::string_view tag = "decision";
    Outcome outcome { Outcome::PassThrough };
    Reason reason { Reason::None };
    template<typename F> void fields(F& f) { f("outcome", outcome), f("reason", reason); }
    // The reason, when one condition decided it.
    std::optional<Reason> givenReason() const { return reason == Reason::None ? std::nullopt : std::optional(reason); }
};
// As the engine reports them and the timeline writes them: "blocked", "music"; "none" for no reason.
template<> struct Names<Decision::Outcome> {
    static constexpr std::array words { "blocked", "pass-through", "touch-hold", "unlock-now", "delay-not-biometric",
        "delay-refused", "delay-scheduled" };
    static constexpr auto last = Decision::Outcome::DelayScheduled;
};
template<> struct Names<Decision::Reason> {
    static constexpr std::array words { "none", "music", "flashlight", "external", "notifications", "disabled",
        "re-send" };
    static constexpr auto last = Decision::Reason::ReSend;
};
// What the delayed-unlock block did when it ran.
struct DelayedUnlock {
    enum class Result { Sent, SkippedTouched, SkippedGone };
    static constexpr std::string_view tag = "delayed-unlock";
    Result result { Result::Sent };
    template<typename F> void fields(F& f) { f("result", result); }
};
template<> struct Names<DelayedUnlock::Result> {
    static constexpr std::array words { "sent", "skipped-touched", "skipped-gone" };
    static constexpr auto last = DelayedUnlock::Result::SkippedGone;
};
// Any other timeline event, as text ("launch finished", "spawn /usr/bin/killall -9 SpringBoard").
struct Note {
    static constexpr std::string_view tag = "note";
    std::string text;
    template<typename F> void fields(F& f) { f("text", text); }
};
using Event = std::variant<AttemptCall, BiometricCall, Decision, DelayedUnlock, Note>;

// The event's line on the timeline, without its time.
std::string timelineText(const Event&);
// The lines of an attempt and of a decision as the timeline writes them, with what a check
// leaves out left out: "attempt passcode=nil mesa=yes finish=no[ result=yes]" and
// "decision outcome=blocked[ reason=music]".
std::string attemptText(const std::optional<std::string>& passcode, bool mesa, bool finish, std::optional<bool> result);
std::string decisionText(Decision::Outcome, std::optional<Decision::Reason>);

struct StampedEvent {
    int64_t stamp { 0 }; // nanoseconds
    Event event;
};
// A child SpringBoard started has ended.
struct ChildExited {
    static constexpr std::string_view tag = "child-exited";
    template<typename F> void fields(F&) { }
};
using Upstream = std::variant<Done, Refused, DeviceState, Drained, StampedEvent, ChildExited>;

// One line each way; nullopt for a line that is not a well-formed message.
std::string encode(const Boot&);
std::string encode(const Request&);
std::string encode(const Upstream&);
std::optional<Boot> decodeBoot(std::string_view line);
std::optional<Request> decodeRequest(std::string_view line);
std::optional<Upstream> decodeUpstream(std::string_view line);

} // namespace Driver
