#include "tools/kestrel/serve/EventJson.h"

#include "host/device/TimelineNotes.h"

namespace Kestrel {

using nlohmann::json;

namespace {

json textOrNull(const std::optional<std::string>& text) { return text ? json(*text) : json(nullptr); }

json typed(EventType type, json fields = json::object())
{
    fields["type"] = Driver::name(type);
    return fields;
}

// SpringBoard and the supervisor report the device's own changes as notes of fixed forms
// ("device locked", "springboard started generation=2"); each known form gets its type.
json noteJson(const std::string& text)
{
    namespace Notes = Driver::Notes;
    if (auto locked = Driver::Facts::device.readLine(text))
        return typed(EventType::Device, { { "locked", *locked } });
    if (auto shown = Driver::Facts::lockscreen.readLine(text))
        return typed(EventType::Lockscreen, { { "shown", *shown } });
    if (auto section = Notes::notificationAdded.read(text)) {
        return typed(EventType::Notification,
            { { "change", Driver::name(NotificationChange::Added) }, { "section", textOrNull(*section) } });
    }
    if (text == Notes::notificationsCleared)
        return typed(EventType::Notification, { { "change", Driver::name(NotificationChange::Cleared) } });
    if (auto playing = Driver::Facts::audio.readLine(text))
        return typed(EventType::Audio, { { "playing", *playing } });
    if (auto level = Notes::flashlight.read(text))
        return typed(EventType::Flashlight, { { "level", *level } });
    if (text == Notes::hitTest)
        return typed(EventType::Touch);
    if (auto event = Notes::biometricEvent.read(text))
        return typed(EventType::BiometricEvent, { { "event", *event } });
    if (auto outcome = Notes::biometricMatch.read(text))
        return typed(EventType::Match, { { "outcome", Driver::name(*outcome) } });
    if (text == Notes::launchFinished)
        return typed(EventType::Launch);
    if (auto generation = Notes::springboardStarted.read(text))
        return typed(
            EventType::Restart, { { "phase", Driver::name(RestartPhase::Started) }, { "generation", *generation } });
    if (auto how = Notes::springboardExited.read(text))
        return typed(EventType::Restart, { { "phase", Driver::name(RestartPhase::Exited) }, { "how", *how } });
    if (auto why = Notes::springboardNotRestarted.read(text))
        return typed(EventType::Restart, { { "phase", Driver::name(RestartPhase::GivenUp) }, { "why", *why } });
    return typed(EventType::Note, { { "text", text } });
}

} // namespace

json eventJson(const SessionEvent& event)
{
    json object = std::visit(
        [](const auto& typedEvent) -> json {
            using T = std::decay_t<decltype(typedEvent)>;
            if constexpr (std::is_same_v<T, Driver::AttemptCall>) {
                return typed(EventType::Attempt,
                    { { "passcode", textOrNull(typedEvent.passcode) }, { "mesa", typedEvent.mesa },
                        { "finish", typedEvent.finish }, { "result", typedEvent.result } });
            } else if constexpr (std::is_same_v<T, Driver::BiometricCall>)
                // Only the engine's retry of a failed match makes these calls.
                return typed(EventType::Retry, { { "step", Driver::wordIn<RetrySteps>(typedEvent.kind) } });
            else if constexpr (std::is_same_v<T, Driver::Decision>) {
                auto reason = typedEvent.givenReason();
                return typed(EventType::Decision,
                    { { "outcome", Driver::name(typedEvent.outcome) },
                        { "reason", reason ? json(Driver::name(*reason)) : json(nullptr) } });
            } else if constexpr (std::is_same_v<T, Driver::DelayedUnlock>)
                return typed(EventType::DelayedUnlock, { { "result", Driver::name(typedEvent.result) } });
            else
                return noteJson(typedEvent.text);
        },
        event.event);
    object["seq"] = event.sequence;
    object["t"] = double(event.stamp) / 1e9;
    object["line"] = timelineLine(event);
    object["text"] = Driver::timelineText(event.event); // the line without its time

    return object;
}

} // namespace Kestrel
