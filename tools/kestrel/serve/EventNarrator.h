// What the simulator page says about the device: one sentence for each event a person
// needs explained, built here and nowhere else, from the typed event (EventJson) and
// what the events before it told of the device (locked or not, what the lock screen
// shows, what is waiting on it, which attempt a decision was about).
//
// A sentence also takes the place of the page's decision panel, so the narrator speaks
// up whenever the panel's statement stops being true: after a lock, a restart, or when
// the condition that kept the lock screen goes away.
#pragma once

#include "host/device/DriverProtocol.h"
#include "platform/plist/Value.h"

#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace Kestrel {

class EventNarrator {
public:
    struct Sources {
        // The settings file's entries as they are now; nullopt when there is no readable file.
        std::function<std::optional<Platform::Plist::Dictionary>()> settings;
        // Whether the device loads Kestrel's engine (asked again whenever SpringBoard starts).
        std::function<bool()> engineInstalled;
    };
    explicit EventNarrator(Sources);

    // The pane's labels of the settings keys, for sentences that name a setting.
    void setLabels(std::map<std::string, std::string>);

    // Adds to an event the page explains its "sentence", its "kind" (kept, dismissed,
    // waiting, passed, failed, retry, info) and a "brief" of a few words; leaves any other
    // event as it is. Events come one at a time, in the order the device published them.
    void narrate(nlohmann::json& event);

private:
    struct Attempt {
        bool lockScreenShownBefore { true };
        bool lockedBefore { true };
        bool mesa { false };
        bool finish { false };
        bool result { false };
    };
    // What kept the lock screen, as the panel says it, while that is still so.
    enum class Holding { Nothing, Music, Flashlight, Notifications };

    struct Said {
        const char* kind;
        std::string sentence;
        std::string brief;
    };
    std::optional<Said> explain(const nlohmann::json& event);
    std::optional<Said> attempt(const nlohmann::json& event);
    std::optional<Said> stockAttempt(const Attempt&);
    std::optional<Said> decision(const nlohmann::json& event);
    std::optional<Said> blocked(Driver::Decision::Reason, const Attempt&);
    // Kestrel let the attempt be: the sentence, and how the device is left after it.
    Said leftAlone(const std::string& sentence, const std::string& briefPrefix) const;
    std::optional<Said> delayedUnlock(const nlohmann::json& event);
    static Said delayOverGone();
    std::optional<Said> failedMatch();
    std::optional<Said> retry(const nlohmann::json& event);
    std::optional<Said> retriedMatch(const nlohmann::json& event);
    std::optional<Said> lockScreen(const nlohmann::json& event);
    std::optional<Said> notification(const nlohmann::json& event);
    std::optional<Said> restart(const nlohmann::json& event);
    std::optional<Said> conditionGone(Holding, const char* what);
    void restarted();

    std::string label(const std::string& key) const;
    bool flag(const std::string& key) const;
    float seconds(const std::string& key) const;
    // "Kestrel decides again..." and the like hold only on a device that loads the engine.
    std::string underneath(const Attempt&) const;
    std::string notificationCause() const;

    Sources m_sources;
    std::map<std::string, std::string> m_labels;
    mutable std::optional<Platform::Plist::Dictionary> m_settings; // read once per event

    bool m_engine { true };
    bool m_locked { true };
    bool m_lockScreenShown { true };
    bool m_audioPlaying { false };
    int64_t m_flashlight { 0 };
    std::vector<std::optional<std::string>> m_notifications;
    // An attempt whose decision is still to come.
    std::optional<Attempt> m_attempt;
    // The lock screen going away with the last attempt, as it said it would (arriving with it).
    bool m_dismissalExpected { false };
    double m_attemptTime { 0 };
    std::optional<Attempt> m_resent; // the delayed unlock's own attempt
    Holding m_holding { Holding::Nothing };
    bool m_justLocked { false };
};

} // namespace Kestrel
