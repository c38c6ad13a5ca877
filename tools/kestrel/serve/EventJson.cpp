#include "tools/kestrel/serve/EventJson.h"

#include "host/device/Words.h"

namespace Kestrel {

using nlohmann::json;

namespace {

json textOrNull(const std::optional<std::string>& text) { return text ? json(*text) : json(nullptr); }

// The part of text after prefix, when text starts with it.
std::optional<std::string_view> after(std::string_view text, std::string_view prefix)
{
    if (!text.starts_with(prefix))
        return std::nullopt;
    return text.substr(prefix.size());
}

// SpringBoard and the supervisor report the device's own changes as notes of fixed forms
// ("device locked", "springboard started generation=2"); each known form gets its type.
json noteJson(const std::string& text)
{
    if (auto locked = Driver::Facts::device.readLine(text))
        return { { "type", "device" }, { "locked", *locked } };
    if (auto shown = Driver::Facts::lockscreen.readLine(text))
        return { { "type", "lockscreen" }, { "shown", *shown } };
    if (auto section = after(text, "notification added section=")) {
        // The host writes a request without a section identifier as nil.
        return { { "type", "notification" }, { "change", "added" },
            { "section", *section == "nil" ? json(nullptr) : json(std::string(*section)) } };
    }
    if (text == "notifications cleared")
        return { { "type", "notification" }, { "change", "cleared" } };
    if (auto playing = Driver::Facts::audio.readLine(text))
        return { { "type", "audio" }, { "playing", *playing } };
    if (auto level = after(text, "flashlight level=")) {
        if (auto number = Device::parseInteger(*level))
            return { { "type", "flashlight" }, { "level", *number } };
    }
    if (text == "hit-test")
        return { { "type", "touch" } };
    if (auto number = after(text, "biometric event=")) {
        if (auto event = Device::parseInteger(*number))
            return { { "type", "biometric-event" }, { "event", *event } };
    }
    if (auto outcome = after(text, "biometric match outcome="))
        return { { "type", "match" }, { "outcome", std::string(*outcome) } };
    if (text == "launch finished")
        return { { "type", "launch" } };
    if (auto generation = after(text, "springboard started generation=")) {
        if (auto number = Device::parseInteger(*generation))
            return { { "type", "restart" }, { "phase", "started" }, { "generation", *number } };
    }
    if (auto how = after(text, "springboard exited "))
        return { { "type", "restart" }, { "phase", "exited" }, { "how", std::string(*how) } };
    if (auto why = after(text, "springboard not restarted: "))
        return { { "type", "restart" }, { "phase", "given-up" }, { "why", std::string(*why) } };
    return { { "type", "note" }, { "text", text } };
}

const char* retryStep(Driver::BiometricCall::Kind kind)
{
    switch (kind) {
    case Driver::BiometricCall::Kind::SetAuthenticatedNo:
        return "authentication-cleared";
    case Driver::BiometricCall::Kind::SetAuthenticatedYes:
        return "authenticated";
    case Driver::BiometricCall::Kind::ScreenOff:
        return "screen-off";
    case Driver::BiometricCall::Kind::ScreenOn:
        return "screen-on";
    }
    return "unknown";
}

} // namespace

json eventJson(const SessionEvent& event)
{
    json object = std::visit(
        [](const auto& typed) -> json {
            using T = std::decay_t<decltype(typed)>;
            if constexpr (std::is_same_v<T, Driver::AttemptCall>) {
                return { { "type", "attempt" }, { "passcode", textOrNull(typed.passcode) }, { "mesa", typed.mesa },
                    { "finish", typed.finish }, { "result", typed.result } };
            } else if constexpr (std::is_same_v<T, Driver::BiometricCall>)
                // Only the engine's retry of a failed match makes these calls.
                return { { "type", "retry" }, { "step", retryStep(typed.kind) } };
            else if constexpr (std::is_same_v<T, Driver::Decision>) {
                auto reason = typed.givenReason();
                return { { "type", "decision" }, { "outcome", Driver::name(typed.outcome) },
                    { "reason", reason ? json(Driver::name(*reason)) : json(nullptr) } };
            } else if constexpr (std::is_same_v<T, Driver::DelayedUnlock>)
                return { { "type", "delayed-unlock" }, { "result", Driver::name(typed.result) } };
            else
                return noteJson(typed.text);
        },
        event.event);
    object["seq"] = event.sequence;
    object["t"] = double(event.stamp) / 1e9;
    object["line"] = timelineLine(event);
    object["text"] = Driver::timelineText(event.event); // the line without its time

    return object;
}

} // namespace Kestrel
