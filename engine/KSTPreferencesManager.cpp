#include "engine/KSTPreferencesManager.h"

#include "platform/fs/DeviceRoot.h"
#include "platform/log/SystemLog.h"
#include "platform/plist/PropertyList.h"

using namespace Platform::Plist;

const char* const nsPreferenceFile = "/var/mobile/Library/Preferences/com.plover.kestrelprefs.plist";

namespace {

constexpr std::string_view preferenceFilePath = "/var/mobile/Library/Preferences/com.plover.kestrelprefs.plist";

// The nine options and their defaults: switches as the integers 0 and 1, the
// two intervals as single-precision reals.
struct DefaultPreference {
    std::string_view key;
    bool isReal;
    float value;
};
constexpr DefaultPreference defaultPreferences[] = {
    { "Enabled", false, 1 },
    { "DisableIfMusic", false, 0 },
    { "DisableIfFlashlight", false, 0 },
    { "DisableIfNotifications", false, 1 },
    { "AutoRetry", false, 0 },
    { "RetryInterval", true, 1.0f },
    { "DelayBeforeUnlock", false, 0 },
    { "DelayTime", true, 2.0f },
    { "BlockForTouch", false, 0 },
};

Value valueOf(const DefaultPreference& preference)
{
    return preference.isReal ? Value::real(preference.value) : Value::integer(int64_t(preference.value));
}

} // namespace

Dictionary KSTPreferencesManager::defaultPrefs()
{
    Dictionary defaults;
    for (auto& preference : defaultPreferences)
        defaults.set(std::string(preference.key), valueOf(preference));
    return defaults;
}

std::optional<Value> KSTPreferencesManager::getPrefForKey(std::string_view key)
{
    // One open, read and parse of the whole file; a missing file and an
    // unreadable one both count as holding nothing.
    auto stored = lookup(Platform::resolve(preferenceFilePath), key);
    if (stored.status == LookupStatus::Found)
        return std::move(stored.value);

    // The defaults are constants: the lookup takes its one value from the table
    // defaultPrefs() is made of, without building the whole dictionary.
    for (auto& preference : defaultPreferences) {
        if (preference.key == key)
            return valueOf(preference);
    }

    Platform::systemLog("PloverDev - Preference " + std::string(key) + " not found.");
    return std::nullopt;
}

std::optional<Dictionary> KSTPreferencesManager::getPrefs()
{
    auto file = readFile(Platform::resolve(preferenceFilePath));
    if (file.isMissing())
        return Dictionary {};
    if (!file.ok() || !file.value.isDictionary())
        return std::nullopt;
    return std::move(*file.value.asDictionary());
}

void KSTPreferencesManager::savePrefs(const Dictionary& preferences)
{
    writeFileAtomically(Platform::resolve(preferenceFilePath), Value(preferences));
}

Value KSTPreferencesManager::kCurrentVersion() { return Value::integer(2); }

bool boolPref(std::string_view key)
{
    auto value = KSTPreferencesManager::getPrefForKey(key);
    return value && value->boolValue();
}

float floatPref(std::string_view key)
{
    auto value = KSTPreferencesManager::getPrefForKey(key);
    return value ? value->floatValue() : 0.0f;
}
