#include "engine/KSTPreferencesManager.h"

#include "platform/fs/DeviceRoot.h"
#include "platform/log/SystemLog.h"
#include "platform/plist/PropertyList.h"

using namespace Platform::Plist;

const char* const nsPreferenceFile = "/var/mobile/Library/Preferences/com.plover.kestrelprefs.plist";

namespace {

constexpr std::string_view preferenceFilePath = "/var/mobile/Library/Preferences/com.plover.kestrelprefs.plist";

} // namespace

Dictionary KSTPreferencesManager::defaultPrefs()
{
    Dictionary defaults;
    defaults.set("Enabled", Value::integer(1));
    defaults.set("DisableIfMusic", Value::integer(0));
    defaults.set("DisableIfFlashlight", Value::integer(0));
    defaults.set("DisableIfNotifications", Value::integer(1));
    defaults.set("AutoRetry", Value::integer(0));
    defaults.set("RetryInterval", Value::real(1.0f));
    defaults.set("DelayBeforeUnlock", Value::integer(0));
    defaults.set("DelayTime", Value::real(2.0f));
    defaults.set("BlockForTouch", Value::integer(0));
    return defaults;
}

std::optional<Value> KSTPreferencesManager::getPrefForKey(std::string_view key)
{
    // One open, read and parse of the whole file; a missing file and an
    // unreadable one both count as holding nothing.
    auto stored = lookup(Platform::resolve(preferenceFilePath), key);
    if (stored.status == LookupStatus::Found)
        return std::move(stored.value);

    auto defaults = defaultPrefs();
    if (auto* value = defaults.find(key))
        return *value;

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
