#include "engine/KSTPreferencesManager.h"

#include "platform/foundation/PlatformCalls.h"
#include "runtime/ClassDefinition.h"

using namespace ObjC;

const char* const nsPreferenceFile = "/var/mobile/Library/Preferences/com.plover.kestrelprefs.plist";

namespace {

constexpr const char* preferenceFilePath = "/var/mobile/Library/Preferences/com.plover.kestrelprefs.plist";

// The nine options and their defaults: switches as the integers 0 and 1, the two intervals
// as single-precision reals.
struct DefaultPreference {
    const char* key;
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

const ClassReference s_numberClass("NSNumber");
const ClassReference s_dictionaryClass("NSDictionary");
const ClassReference s_mutableDictionaryClass("NSMutableDictionary");

bool sameText(const char* a, const char* b)
{
    if (!a || !b)
        return false;
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

bool isKindOf(id object, Class cls)
{
    static SEL const isKindOfClass = sel("isKindOfClass:");
    return send<bool>(object, isKindOfClass, cls);
}

constexpr size_t preferenceCount = sizeof defaultPreferences / sizeof *defaultPreferences;

// The table's keys and values as Foundation objects, made once and kept, as a tweak's constant
// strings and numbers are.
struct Constants {
    id keys[preferenceCount];
    id values[preferenceCount];
};

const Constants& constants()
{
    static const Constants made = [] {
        static SEL const retainSelector = sel("retain");
        Constants objects;
        for (size_t index = 0; index < preferenceCount; ++index) {
            auto& preference = defaultPreferences[index];
            objects.keys[index] = send<id>(string(preference.key), retainSelector);
            id value = preference.isReal ? number(double(preference.value))
                                         : number(static_cast<long long>(preference.value));
            objects.values[index] = send<id>(value, retainSelector);
        }
        return objects;
    }();
    return made;
}

// The table's index of a key; preferenceCount for a key it does not hold.
size_t indexOf(const char* key)
{
    for (size_t index = 0; index < preferenceCount; ++index) {
        if (sameText(defaultPreferences[index].key, key))
            return index;
    }
    return preferenceCount;
}

// The key as an NSString: the table's own for its keys.
id keyString(const char* key)
{
    size_t index = indexOf(key);
    return index < preferenceCount ? constants().keys[index] : string(key);
}

id defaultPrefsMethod(id, SEL) { return KSTPreferencesManager::defaultPrefs(); }
id getPrefForKeyMethod(id, SEL, id key) { return KSTPreferencesManager::getPrefForKey(key); }
id getPrefsMethod(id, SEL) { return KSTPreferencesManager::getPrefs(); }
void savePrefsMethod(id, SEL, id preferences) { KSTPreferencesManager::savePrefs(preferences); }
id kCurrentVersionMethod(id, SEL) { return KSTPreferencesManager::kCurrentVersion(); }

} // namespace

__attribute__((constructor)) static void loadPreferencesManager()
{
    ClassDefinition definition("KSTPreferencesManager", getClass("NSObject"));
    definition.classMethod("defaultPrefs", &defaultPrefsMethod)
        .classMethod("getPrefForKey:", &getPrefForKeyMethod)
        .classMethod("getPrefs", &getPrefsMethod)
        .classMethod("savePrefs:", &savePrefsMethod)
        .classMethod("kCurrentVersion", &kCurrentVersionMethod);
    definition.registerClass();
}

id KSTPreferencesManager::defaultPrefs()
{
    static SEL const dictionaryWithCapacity = sel("dictionaryWithCapacity:");
    static SEL const setObjectForKey = sel("setObject:forKey:");
    id defaults
        = send<id>(s_mutableDictionaryClass.get(), dictionaryWithCapacity, static_cast<unsigned long>(preferenceCount));
    for (size_t index = 0; index < preferenceCount; ++index)
        send(defaults, setObjectForKey, constants().values[index], constants().keys[index]);
    return defaults;
}

id KSTPreferencesManager::getPrefForKey(id key)
{
    // One open, read and parse of the whole file; a missing file and an unreadable one both
    // count as holding nothing.
    PlatformFileState state;
    if (id stored = PlatformPropertyListEntry(preferenceFilePath, key, &state))
        return stored;

    // The defaults are constants: the lookup takes its one value from the table defaultPrefs
    // is made of, without building the whole dictionary.
    size_t index = indexOf(utf8(key));
    if (index < preferenceCount)
        return constants().values[index];

    NSLog(string("PloverDev - Preference %@ not found."), key);
    return nullptr;
}

id KSTPreferencesManager::getPrefs()
{
    PlatformFileState state = PlatformFileUnreadable;
    id file = PlatformPropertyListWithContentsOfFile(preferenceFilePath, &state);
    if (state == PlatformFileMissing) {
        static SEL const dictionary = sel("dictionary");
        return send<id>(s_dictionaryClass.get(), dictionary);
    }
    return isKindOf(file, s_dictionaryClass) ? file : nullptr;
}

void KSTPreferencesManager::savePrefs(id preferences)
{
    PlatformWritePropertyListAtomically(preferenceFilePath, preferences);
}

id KSTPreferencesManager::kCurrentVersion() { return number(2ll); }

bool boolPref(const char* key)
{
    static SEL const boolValue = sel("boolValue");
    id value = KSTPreferencesManager::getPrefForKey(keyString(key));
    return isKindOf(value, s_numberClass) && send<bool>(value, boolValue);
}

float floatPref(const char* key)
{
    static SEL const floatValue = sel("floatValue");
    id value = KSTPreferencesManager::getPrefForKey(keyString(key));
    return isKindOf(value, s_numberClass) ? send<float>(value, floatValue) : 0.0f;
}
