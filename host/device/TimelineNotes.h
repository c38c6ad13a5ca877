// The notes SpringBoard and the supervisor put on the timeline in fixed forms ("flashlight
// level=3", "springboard started generation=2"): each form is defined here once, for the code
// that makes the note and the code that reads it back (the simulator page's typed events).
// The two-state notes ("device locked") are the device's Facts.
#pragma once

#include "host/device/DriverProtocol.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace Driver {

// What a match the biometric resource started by itself came to: no face in front of it
// (nothing was queued), or the queued match or failure.
enum class MatchOutcome { NoFace, Match, Fail };
template <> struct Names<MatchOutcome> {
    static constexpr std::array words { "no-face", "match", "fail" };
    static constexpr auto last = MatchOutcome::Fail;
};

// A note that is a fixed beginning and one value: an integer in decimal, text as it is,
// optional text with nil for none, or an enum's word.
template <typename T> struct NoteForm {
    std::string_view prefix;

    std::string line(const T& value) const { return std::string(prefix) + word(value); }
    // The value a note of this form carries; nullopt for any other note.
    std::optional<T> read(std::string_view note) const
    {
        if (!note.starts_with(prefix))
            return std::nullopt;
        auto text = note.substr(prefix.size());
        if constexpr (std::is_same_v<T, int64_t>)
            return Device::parseInteger(text);
        else if constexpr (std::is_same_v<T, std::string>)
            return std::string(text);
        else if constexpr (std::is_same_v<T, std::optional<std::string>>)
            return text == "nil" ? T() : T(std::string(text));
        else
            return named<T>(text);
    }

private:
    static std::string word(const T& value)
    {
        if constexpr (std::is_same_v<T, int64_t>)
            return std::to_string(value);
        else if constexpr (std::is_same_v<T, std::string>)
            return value;
        else if constexpr (std::is_same_v<T, std::optional<std::string>>)
            return value.value_or("nil");
        else
            return name(value);
    }
};

namespace Notes {
inline constexpr std::string_view launchFinished = "launch finished";
inline constexpr std::string_view hitTest = "hit-test";
inline constexpr std::string_view notificationsCleared = "notifications cleared";
// The section identifier of the request; nil for a request without one.
inline constexpr NoteForm<std::optional<std::string>> notificationAdded { "notification added section=" };
inline constexpr NoteForm<int64_t> flashlight { "flashlight level=" };
inline constexpr NoteForm<int64_t> biometricEvent { "biometric event=" };
inline constexpr NoteForm<MatchOutcome> biometricMatch { "biometric match outcome=" };
inline constexpr NoteForm<int64_t> springboardStarted { "springboard started generation=" };
// How it ended ("signal=9", "status=0").
inline constexpr NoteForm<std::string> springboardExited { "springboard exited " };
// Why the supervisor gave up.
inline constexpr NoteForm<std::string> springboardNotRestarted { "springboard not restarted: " };
} // namespace Notes

} // namespace Driver
