// The engine's only way to the user's options: the settings file, read afresh
// at every lookup, with a table of defaults behind it. No state, no cache.
#pragma once

#include "platform/plist/Value.h"

#include <optional>
#include <string_view>

// The settings file's path, exported for whoever wants it; the store itself
// uses the literal.
extern "C" __attribute__((visibility("default"))) const char* const nsPreferenceFile;

class KSTPreferencesManager {
public:
    KSTPreferencesManager() = delete;

    // The nine engine options and their defaults, built afresh on every call.
    static Platform::Plist::Dictionary defaultPrefs();
    // The stored value, else the default, else none (and a line in the system log).
    static std::optional<Platform::Plist::Value> getPrefForKey(std::string_view key);
    // The file's dictionary: empty when there is no file, none when it cannot be read as one.
    static std::optional<Platform::Plist::Dictionary> getPrefs();
    // Replaces the whole file atomically; a failed write is ignored.
    static void savePrefs(const Platform::Plist::Dictionary&);
    static Platform::Plist::Value kCurrentVersion();
};

// The readings every caller takes at once: a missing value reads NO / 0.0,
// as a message to nil would.
bool boolPref(std::string_view key);
float floatPref(std::string_view key);
