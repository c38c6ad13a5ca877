#include "tools/kestrel/serve/EventNarrator.h"

#include "host/device/TimelineNotes.h"
#include "tools/kestrel/serve/EventJson.h"

#include <cmath>
#include <cstdio>

namespace Kestrel {

using nlohmann::json;

namespace {

constexpr const char* doNotDisturbSection = "com.apple.donotdisturb";

// What the engine takes for a key the settings file lacks.
struct Default {
    const char* key;
    float value;
};
constexpr Default engineDefaults[] = {
    { "Enabled", 1 },
    { "DisableIfMusic", 0 },
    { "DisableIfFlashlight", 0 },
    { "DisableIfNotifications", 1 },
    { "AutoRetry", 0 },
    { "RetryInterval", 1.0f },
    { "DelayBeforeUnlock", 0 },
    { "DelayTime", 2.0f },
    { "BlockForTouch", 0 },
};

float engineDefault(const std::string& key)
{
    for (auto& entry : engineDefaults) {
        if (key == entry.key)
            return entry.value;
    }
    return 0;
}

// "2.0 s", "0.5 s", "1.25 s": as the pane's sliders show a time.
std::string secondsText(float seconds)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.2f", double(seconds));
    std::string result = text;
    if (result.ends_with('0') && result[result.size() - 3] == '.')
        result.pop_back();
    return result + " s";
}

// The value the event's field names in the words of Table (an enum's Names, or the page's
// own); nullopt when the field is missing, no text, or no word of the table.
template <typename Table> std::optional<Driver::TableEnum<Table>> fieldValue(const json& event, const char* field)
{
    auto found = event.find(field);
    if (found == event.end() || !found->is_string())
        return std::nullopt;
    return Driver::valueIn<Table>(found->get_ref<const std::string&>());
}
template <typename E> std::optional<E> field(const json& event, const char* name)
{
    return fieldValue<Driver::Names<E>>(event, name);
}

std::string stampText(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof(text), "t=%.3f", seconds);
    return text;
}

} // namespace

EventNarrator::EventNarrator(Sources sources)
    : m_sources(std::move(sources))
{
    m_engine = !m_sources.engineInstalled || m_sources.engineInstalled();
}

void EventNarrator::setLabels(std::map<std::string, std::string> labels) { m_labels = std::move(labels); }

std::string EventNarrator::label(const std::string& key) const
{
    auto found = m_labels.find(key);
    return "'" + (found == m_labels.end() ? key : found->second) + "'";
}

float EventNarrator::seconds(const std::string& key) const
{
    if (!m_settings && m_sources.settings)
        m_settings = m_sources.settings().value_or(Platform::Plist::Dictionary {});
    const auto* value = m_settings ? m_settings->find(key) : nullptr;
    return value ? value->floatValue() : engineDefault(key);
}

bool EventNarrator::flag(const std::string& key) const
{
    if (!m_settings && m_sources.settings)
        m_settings = m_sources.settings().value_or(Platform::Plist::Dictionary {});
    const auto* value = m_settings ? m_settings->find(key) : nullptr;
    return value ? value->boolValue() : engineDefault(key) != 0;
}

void EventNarrator::narrate(json& event)
{
    // Settings are read at most once for each event, and afresh for the next one.
    m_settings.reset();
    auto said = explain(event);
    m_justLocked = field<EventType>(event, "type") == EventType::Device && event.value("locked", false);
    if (!said)
        return;
    event["kind"] = said->kind;
    event["sentence"] = said->sentence;
    event["brief"] = said->brief;
}

std::optional<EventNarrator::Said> EventNarrator::explain(const json& event)
{
    auto type = field<EventType>(event, "type");
    if (!type)
        return std::nullopt;
    switch (*type) {
    case EventType::Attempt:
        return attempt(event);
    case EventType::Decision:
        return decision(event);
    case EventType::DelayedUnlock:
        return delayedUnlock(event);
    case EventType::BiometricEvent:
        return event.value("event", int64_t(0)) == 10 ? failedMatch() : std::nullopt;
    case EventType::Retry:
        return retry(event);
    case EventType::Match:
        return retriedMatch(event);
    case EventType::Device:
        m_locked = event.value("locked", true);
        if (!m_locked)
            return std::nullopt;
        m_holding = Holding::Nothing;
        return Said { "info",
            std::string("Locked: the lock screen is up")
                + (m_engine ? ", and Kestrel decides again at the next face match." : "."),
            "locked" };
    case EventType::Lockscreen:
        return lockScreen(event);
    case EventType::Notification:
        return notification(event);
    case EventType::Audio:
        m_audioPlaying = event.value("playing", false);
        return m_audioPlaying ? std::nullopt : conditionGone(Holding::Music, "The music stopped");
    case EventType::Flashlight:
        m_flashlight = event.value("level", int64_t(0));
        return m_flashlight ? std::nullopt : conditionGone(Holding::Flashlight, "The flashlight is off");
    case EventType::Restart:
        return restart(event);
    case EventType::Touch:
    case EventType::Launch:
    case EventType::Note:
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<EventNarrator::Said> EventNarrator::retry(const json& event)
{
    auto step = fieldValue<RetrySteps>(event, "step");
    if (!step)
        return std::nullopt;
    switch (*step) {
    case Driver::BiometricCall::Kind::ScreenOff: {
        auto interval = secondsText(seconds("RetryInterval"));
        return Said { "retry",
            "Retrying the failed match: Kestrel turned the face sensor off; it looks again in " + interval + ".",
            "retrying in " + interval };
    }
    case Driver::BiometricCall::Kind::ScreenOn:
        return Said { "retry", "Retrying now: the face sensor looks for a face again.", "retrying" };
    case Driver::BiometricCall::Kind::SetAuthenticatedNo:
    case Driver::BiometricCall::Kind::SetAuthenticatedYes:
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<EventNarrator::Said> EventNarrator::retriedMatch(const json& event)
{
    auto outcome = field<Driver::MatchOutcome>(event, "outcome");
    if (!outcome)
        return std::nullopt;
    switch (*outcome) {
    case Driver::MatchOutcome::NoFace:
        return Said { "failed",
            "The retried match found no face, so nothing happens. ('Next match succeeds' puts a face in front of "
            "the next look.)",
            "retry found no face" };
    case Driver::MatchOutcome::Match:
        return Said { "retry", "The retried match found the face.", "retry matched" };
    case Driver::MatchOutcome::Fail:
        return std::nullopt; // a failure reports itself as a failed match next
    }
    return std::nullopt;
}

std::optional<EventNarrator::Said> EventNarrator::lockScreen(const json& event)
{
    m_lockScreenShown = event.value("shown", true);
    if (m_lockScreenShown) {
        if (m_justLocked)
            return std::nullopt;
        return Said { "info", "The lock screen is up again.", "lock screen up" };
    }
    // An attempt that finishes the unlock takes the lock screen with it, at once; its own
    // sentence (or its decision's) says so.
    bool withAttempt = m_dismissalExpected && event.value("t", 0.0) - m_attemptTime < 0.05;
    m_dismissalExpected = false;
    if (withAttempt)
        return std::nullopt;
    m_holding = Holding::Nothing;
    return Said { "dismissed", "Swiped up: the lock screen is gone and the home screen shows.", "swiped up" };
}

std::optional<EventNarrator::Said> EventNarrator::notification(const json& event)
{
    auto change = field<NotificationChange>(event, "change");
    if (!change)
        return std::nullopt;
    switch (*change) {
    case NotificationChange::Added: {
        auto section = event.find("section");
        m_notifications.push_back(
            section != event.end() && section->is_string() ? std::optional(section->get<std::string>()) : std::nullopt);
        return std::nullopt;
    }
    case NotificationChange::Cleared:
        m_notifications.clear();
        return conditionGone(Holding::Notifications, "The notifications were cleared");
    }
    return std::nullopt;
}

std::optional<EventNarrator::Said> EventNarrator::restart(const json& event)
{
    auto phase = field<RestartPhase>(event, "phase");
    if (!phase)
        return std::nullopt;
    switch (*phase) {
    case RestartPhase::Exited:
        m_attempt.reset();
        m_resent.reset();
        m_holding = Holding::Nothing;
        return Said { "info", "SpringBoard stopped; it starts again in a moment.", "restarting" };
    case RestartPhase::Started: {
        restarted();
        int64_t generation = event.value("generation", int64_t(1));
        if (generation <= 1)
            return Said { "info", "The device booted: locked, with the lock screen up.", "booted" };
        return Said { "info",
            "SpringBoard started again (generation " + std::to_string(generation)
                + "): the phone is locked, and nothing has been decided since.",
            "restarted" };
    }
    case RestartPhase::GivenUp:
        return Said { "failed", "SpringBoard did not start again: " + event.value("why", std::string()) + ".",
            "SpringBoard is down" };
    }
    return std::nullopt;
}

void EventNarrator::restarted()
{
    m_locked = true;
    m_lockScreenShown = true;
    m_audioPlaying = false;
    m_flashlight = 0;
    m_notifications.clear();
    m_attempt.reset();
    m_dismissalExpected = false;
    m_resent.reset();
    m_holding = Holding::Nothing;
    if (m_sources.engineInstalled)
        m_engine = m_sources.engineInstalled();
}

std::optional<EventNarrator::Said> EventNarrator::conditionGone(Holding holding, const char* what)
{
    if (m_holding != holding || !m_lockScreenShown)
        return std::nullopt;
    m_holding = Holding::Nothing;
    return Said { "info",
        std::string(what) + ", so nothing holds the lock screen now; it stays until you swipe up or match again.",
        "nothing holds it now" };
}

std::optional<EventNarrator::Said> EventNarrator::attempt(const json& event)
{
    Attempt attempt { m_lockScreenShown, m_locked, event.value("mesa", false), event.value("finish", false),
        event.value("result", false) };
    m_dismissalExpected = attempt.result && attempt.finish && m_lockScreenShown;
    m_attemptTime = event.value("t", 0.0);
    if (!m_engine)
        return stockAttempt(attempt);
    // The engine reports its decision once the attempt has had its effect.
    m_attempt = attempt;
    return std::nullopt;
}

std::optional<EventNarrator::Said> EventNarrator::stockAttempt(const Attempt& attempt)
{
    if (!attempt.lockScreenShownBefore)
        return Said { "passed",
            "The phone was already open: this attempt had no lock screen to dismiss and changed nothing.",
            "already open" };
    if (!attempt.result) {
        return Said { "failed",
            attempt.lockedBefore ? "The unlock failed: the phone stays locked."
                                 : "The unlock failed; the device stays as it was.",
            "unlock failed" };
    }
    if (attempt.finish)
        return Said { "dismissed", "Unlocked, and the lock screen went with the unlock.", "dismissed" };
    return Said { "kept",
        std::string(attempt.mesa ? "The face matched and the device is unlocked" : "The device is unlocked")
            + ", but the lock screen stays until you swipe up.",
        "lock screen stays until you swipe up" };
}

std::string EventNarrator::underneath(const Attempt& attempt) const
{
    if (m_lockScreenShown && !m_locked)
        return " The device is unlocked underneath: swipe up to open it.";
    if (!attempt.result)
        return " The unlock itself failed, so the phone stays locked.";
    return "";
}

std::string EventNarrator::notificationCause() const
{
    if (m_notifications.empty())
        return "nothing held it.";
    if (!flag("DisableIfNotifications"))
        return "nothing held it (" + label("DisableIfNotifications")
            + " is off, so waiting notifications do not count).";
    if (m_notifications.size() == 1 && m_notifications.front() == std::optional<std::string>(doNotDisturbSection))
        return "the only waiting notification is the Do Not Disturb notice, which does not count.";
    return "nothing held it (the waiting notifications were not counted).";
}

std::optional<EventNarrator::Said> EventNarrator::decision(const json& event)
{
    using Outcome = Driver::Decision::Outcome;
    using Reason = Driver::Decision::Reason;
    Attempt attempt = m_attempt.value_or(Attempt { m_lockScreenShown, m_locked, true, false, !m_locked });
    m_attempt.reset();
    auto outcome = field<Outcome>(event, "outcome");
    if (!outcome)
        return std::nullopt;
    Reason reason = field<Reason>(event, "reason").value_or(Reason::None);
    if (*outcome == Outcome::PassThrough && reason == Reason::ReSend) {
        // The delayed unlock's attempt: what came of it is told when the delayed unlock reports.
        m_resent = attempt;
        return std::nullopt;
    }
    m_holding = Holding::Nothing;
    if (!attempt.lockScreenShownBefore)
        return Said { "passed",
            "The phone was already open: this attempt had no lock screen to dismiss and changed nothing.",
            "already open" };

    switch (*outcome) {
    case Outcome::Blocked:
        return blocked(reason, attempt);
    case Outcome::TouchHold:
        return Said { "kept",
            "Kept the lock screen: the screen was touched before the match and " + label("BlockForTouch") + " is on."
                + underneath(attempt),
            "kept: touched first" };
    case Outcome::UnlockNow:
        if (m_lockScreenShown) {
            return Said { "failed",
                "Kestrel let the unlock dismiss the lock screen, but the unlock failed: the phone stays locked.",
                "unlock failed" };
        }
        return Said { "dismissed", "Dismissed the lock screen at once: " + notificationCause(), "dismissed at once" };
    case Outcome::DelayScheduled: {
        float delay = seconds("DelayTime");
        if (delay <= 0) {
            return Said { "waiting",
                "Unlocked the device; the lock screen goes away in a moment, unless the screen is touched first.",
                "dismissed in a moment" };
        }
        double due = event.value("t", 0.0) + double(delay);
        return Said { "waiting",
            "Unlocked the device; the lock screen goes away in " + secondsText(delay) + " (at " + stampText(due)
                + ") unless the screen is touched first.",
            "dismissed in " + secondsText(delay) };
    }
    case Outcome::DelayRefused:
        return Said { "failed",
            label("DelayBeforeUnlock")
                + " is on, but the unlock failed: nothing was scheduled, and the lock screen stays.",
            "unlock failed" };
    case Outcome::DelayNotBiometric:
        return leftAlone(
            label("DelayBeforeUnlock") + " is on, but this attempt was not a face match: Kestrel left it as it was.",
            "");
    case Outcome::PassThrough:
        if (reason == Reason::Disabled) {
            return leftAlone(
                "Kestrel is off (" + label("Enabled") + " is off): the unlock went on as the system made it.",
                "Kestrel off: ");
        }
        return leftAlone("Kestrel left the unlock as the system made it.", "");
    }
    return std::nullopt;
}

std::optional<EventNarrator::Said> EventNarrator::blocked(Driver::Decision::Reason reason, const Attempt& attempt)
{
    using Reason = Driver::Decision::Reason;
    std::string why;
    std::string brief;
    switch (reason) {
    case Reason::Music:
        why = "music is playing and " + label("DisableIfMusic") + " is on";
        brief = "kept: music is playing";
        m_holding = Holding::Music;
        break;
    case Reason::Flashlight:
        why = "the flashlight is on and " + label("DisableIfFlashlight") + " is on";
        brief = "kept: the flashlight is on";
        m_holding = Holding::Flashlight;
        break;
    case Reason::Notifications: {
        size_t count = m_notifications.size();
        bool onlyNotice = count == 1 && m_notifications.front() == std::optional<std::string>(doNotDisturbSection);
        why = onlyNotice ? "the Do Not Disturb notice is waiting (on this system it counts like any notification) and "
            : count == 1 ? "a notification is waiting and "
                         : std::to_string(count) + " notifications are waiting and ";
        why += label("DisableIfNotifications") + " is on";
        brief = "kept: notifications are waiting";
        m_holding = Holding::Notifications;
        break;
    }
    case Reason::External:
    case Reason::None:
    case Reason::Disabled:
    case Reason::ReSend:
        why = "another part of the system asked to keep it";
        brief = "kept by the system";
        break;
    }
    return Said { "kept", "Kept the lock screen: " + why + "." + underneath(attempt), brief };
}

EventNarrator::Said EventNarrator::leftAlone(const std::string& sentence, const std::string& briefPrefix) const
{
    std::string after = !m_lockScreenShown ? " The lock screen is gone."
        : !m_locked                        ? " The device is unlocked; the lock screen stays until you swipe up."
                                           : " The phone stays locked.";
    std::string brief = !m_lockScreenShown ? "dismissed"
        : !m_locked                        ? "lock screen stays until you swipe up"
                                           : "stays locked";
    return Said { "passed", sentence + after, briefPrefix + brief };
}

std::optional<EventNarrator::Said> EventNarrator::delayedUnlock(const json& event)
{
    using Result = Driver::DelayedUnlock::Result;
    auto result = field<Result>(event, "result");
    auto resent = m_resent;
    m_resent.reset();
    if (!result)
        return std::nullopt;
    bool goneBefore = (resent && !resent->lockScreenShownBefore) || (!resent && !m_lockScreenShown);
    switch (*result) {
    case Result::SkippedGone:
        return Said { "passed", "The delay is over, but the lock screen it was for is gone: nothing to do.",
            "nothing left to dismiss" };
    case Result::SkippedTouched: {
        if (goneBefore)
            return delayOverGone();
        m_holding = Holding::Nothing;
        std::string after
            = m_lockScreenShown && !m_locked ? " The device is unlocked underneath: swipe up to open it." : "";
        return Said { "kept", "The delay is over, but the screen was touched meanwhile: the lock screen stays." + after,
            "kept: touched during the delay" };
    }
    case Result::Sent:
        if (goneBefore)
            return delayOverGone();
        m_holding = Holding::Nothing;
        if (!m_lockScreenShown)
            return Said { "dismissed", "The delay is over: the lock screen was dismissed.",
                "dismissed after the delay" };
        return Said { "failed",
            std::string("The delay is over and Kestrel sent the unlock again, but it failed")
                + (m_locked ? ": the phone was locked again meanwhile, so the lock screen stays."
                            : ": the lock screen stays."),
            "stays: the unlock failed" };
    }
    return std::nullopt;
}

EventNarrator::Said EventNarrator::delayOverGone()
{
    return Said { "passed", "The delay is over; the lock screen was already gone.", "already open" };
}

std::optional<EventNarrator::Said> EventNarrator::failedMatch()
{
    m_holding = Holding::Nothing;
    if (m_engine && flag("AutoRetry")) {
        return Said { "failed",
            "The face did not match. " + label("AutoRetry") + " is on: Kestrel looks again in "
                + secondsText(seconds("RetryInterval")) + ".",
            "no match: retrying" };
    }
    std::string after = m_locked ? ": the phone stays locked." : ".";
    if (m_engine && m_locked)
        after = ": the phone stays locked (" + label("AutoRetry") + " is off, so nothing more happens).";
    return Said { "failed", "The face did not match" + after, "no match" };
}

} // namespace Kestrel
