#include "prefs/kestrelprefsRootListController.h"

#include "platform/foundation/PlatformCalls.h"
#include "platform/foundation/PreferencesCalls.h"
#include "runtime/ClassDefinition.h"

using ObjC::send;
using ObjC::sel;

const char* const nsPreferencesPath = "/var/mobile/Library/Preferences/com.plover.kestrelprefs.plist";
__attribute__((visibility("default"))) const char* respringStr = "com.plover.kestrel.respring";
const char* const kestrelProfileAddress = "https://twitter.com/PloverDev";

namespace {

ObjC::ClassReference const s_controllerClass("kestrelprefsRootListController");
ObjC::ClassReference const s_string("NSString");
ObjC::ClassReference const s_number("NSNumber");
ObjC::ClassReference const s_data("NSData");
ObjC::ClassReference const s_date("NSDate");
ObjC::ClassReference const s_array("NSArray");
ObjC::ClassReference const s_dictionary("NSDictionary");

bool isKindOf(id object, Class cls)
{
    static SEL const isKindOfClass = sel("isKindOfClass:");
    return send<bool>(object, isKindOfClass, cls);
}

id append(id text, id more)
{
    static SEL const stringByAppendingString = sel("stringByAppendingString:");
    return send<id>(text, stringByAppendingString, more);
}

id describeNumber(id value)
{
    static SEL const description = sel("description");
    static SEL const boolValue = sel("boolValue");
    // Foundation keeps its booleans in a class of their own; they show as 1 and 0.
    if (ObjC::classOf(value) == ObjC::classOf(ObjC::boolNumber(true)))
        return ObjC::string(send<bool>(value, boolValue) ? "1" : "0");
    // Integers show in full, reals with up to 16 significant digits (%.16g).
    return send<id>(value, description);
}

// A date shows as its seconds since the reference date, to the nearest whole second (ties to
// even, as printf's %.0f rounds).
id describeDate(id value)
{
    static SEL const timeInterval = sel("timeIntervalSinceReferenceDate");
    static SEL const description = sel("description");
    double seconds = send<double>(value, timeInterval);
    double whole = seconds;
    if (seconds > -9.0e15 && seconds < 9.0e15) {
        whole = static_cast<double>(static_cast<long long>(seconds));
        double rest = seconds - whole;
        if (rest > 0.5 || (rest == 0.5 && static_cast<long long>(whole) % 2))
            whole += 1;
        else if (rest < -0.5 || (rest == -0.5 && static_cast<long long>(whole) % 2))
            whole -= 1;
        return append(ObjC::string("date "), send<id>(ObjC::number(static_cast<long long>(whole)), description));
    }
    return append(ObjC::string("date "), send<id>(ObjC::number(whole), description));
}

id describeArray(id value)
{
    static SEL const count = sel("count");
    static SEL const objectAtIndex = sel("objectAtIndex:");
    id text = ObjC::string("(");
    unsigned long size = send<unsigned long>(value, count);
    for (unsigned long index = 0; index < size; ++index) {
        if (index)
            text = append(text, ObjC::string(", "));
        text = append(text, describeValue(send<id>(value, objectAtIndex, index)));
    }
    return append(text, ObjC::string(")"));
}

id describeDictionary(id value)
{
    static SEL const allKeys = sel("allKeys");
    static SEL const sortedArrayUsingSelector = sel("sortedArrayUsingSelector:");
    static SEL const compare = sel("compare:");
    static SEL const count = sel("count");
    static SEL const objectAtIndex = sel("objectAtIndex:");
    static SEL const objectForKey = sel("objectForKey:");
    id keys = send<id>(send<id>(value, allKeys), sortedArrayUsingSelector, compare);
    id text = ObjC::string("{");
    unsigned long size = send<unsigned long>(keys, count);
    for (unsigned long index = 0; index < size; ++index) {
        id key = send<id>(keys, objectAtIndex, index);
        if (index)
            text = append(text, ObjC::string("; "));
        text = append(append(append(text, describeValue(key)), ObjC::string(" = ")), describeValue(send<id>(value, objectForKey, key)));
    }
    return append(text, ObjC::string("}"));
}

Ivar ivarNamed(const char* name) { return ObjC::instanceVariable(s_controllerClass.get(), name); }

// The row's key: its "key" property when that is text, else nil.
id keyOf(id specifier)
{
    static SEL const propertyForKey = sel("propertyForKey:");
    if (!ObjC::respondsToSelector(specifier, propertyForKey))
        return nullptr;
    id key = send<id>(specifier, propertyForKey, ObjC::string("key"));
    return isKindOf(key, s_string.get()) ? key : nullptr;
}

// The settings file's dictionary, or nil when it is missing or unreadable.
id readSettings()
{
    id settings = PlatformPropertyListWithContentsOfFile(nsPreferencesPath, nullptr);
    return isKindOf(settings, s_dictionary.get()) ? settings : nullptr;
}

id entry(id settings, id key)
{
    static SEL const objectForKey = sel("objectForKey:");
    return send<id>(settings, objectForKey, key);
}

void postNotification(id name)
{
    CFNotificationCenterPostNotification(
        CFNotificationCenterGetDarwinNotifyCenter(), reinterpret_cast<CFStringRef>(name), nullptr, nullptr, true);
}

id specifiers(id self, SEL)
{
    static SEL const loadSpecifiers = sel("loadSpecifiersFromPlistName:target:");
    id* list = ObjC::ivarAddress<id>(self, ivarNamed("_specifiers"));
    BOOL* shouldReload = ObjC::ivarAddress<BOOL>(self, ivarNamed("_shouldReload"));
    if (!list || !shouldReload)
        return nullptr;
    if (*shouldReload) {
        *shouldReload = false;
        ObjC::release(*list);
        *list = nullptr;
    } else if (*list)
        return *list;
    id loaded = send<id>(self, loadSpecifiers, ObjC::string("Root"), self);
    *list = ObjC::RetainPtr(loaded).leak();
    return loaded;
}

id readPreferenceValue(id self, SEL, id specifier)
{
    static SEL const propertyForKey = sel("propertyForKey:");
    static SEL const reloadSpecifierID = sel("reloadSpecifierID:");
    id settings = readSettings();
    id key = keyOf(specifier);

    id result = nullptr;
    if (ObjC::isEqualToString(key, "presetUserAgent"))
        result = append(append(describeValue(entry(settings, ObjC::string("device"))), ObjC::string("/")),
            describeValue(entry(settings, ObjC::string("iosVersion"))));
    else if (id stored = key ? entry(settings, key) : nullptr)
        result = stored;
    else if (ObjC::respondsToSelector(specifier, propertyForKey))
        result = send<id>(specifier, propertyForKey, ObjC::string("default"));

    if (ObjC::isEqualToString(key, "device") || ObjC::isEqualToString(key, "iosVersion"))
        send(self, reloadSpecifierID, ObjC::string("User-Agent"));
    return result;
}

void logUnreadableSettings(const PlatformPreferencesUpdate& outcome)
{
    static SEL const lastPathComponent = sel("lastPathComponent");
    if (!outcome.unreadableReason)
        return;
    id name = send<id>(ObjC::string(nsPreferencesPath), lastPathComponent);
    if (outcome.keptAside)
        NSLog(ObjC::string("KestrelPrefs: %@ could not be read (%@); kept it as %@.unreadable"), name, outcome.unreadableReason, name);
    else
        NSLog(ObjC::string("KestrelPrefs: %@ could not be read (%@) nor be kept aside (%@); it is left as it is and the change is not saved"),
            name, outcome.unreadableReason, outcome.keepAsideFailure);
}

void setPreferenceValue(id self, SEL, id value, id specifier)
{
    static SEL const propertyForKey = sel("propertyForKey:");
    static SEL const reloadSpecifiers = sel("reloadSpecifiers");
    id key = keyOf(specifier);
    // A row without a key, or no value to store: nothing to write, nothing to announce.
    if (!key || !value)
        return;

    PlatformPreferencesUpdate outcome {};
    PlatformUpdatePreferencesFile(nsPreferencesPath, key, value, &outcome);
    logUnreadableSettings(outcome);

    id notification = send<id>(specifier, propertyForKey, ObjC::string("PostNotification"));
    if (isKindOf(notification, s_string.get()))
        postNotification(notification);
    if (ObjC::isEqualToString(key, "useCustom") || ObjC::isEqualToString(key, "enabled")) {
        if (BOOL* shouldReload = ObjC::ivarAddress<BOOL>(self, ivarNamed("_shouldReload")))
            *shouldReload = true;
        send(self, reloadSpecifiers);
    }
}

void respring(id, SEL) { postNotification(ObjC::string(respringStr)); }

void twitterlink(id, SEL)
{
    id url = send<id>(ObjC::getClass("NSURL"), sel("URLWithString:"), ObjC::string(kestrelProfileAddress));
    id application = send<id>(ObjC::getClass("UIApplication"), sel("sharedApplication"));
    send<bool>(application, sel("openURL:"), url);
}

BOOL shouldReload(id self, SEL)
{
    BOOL* flag = ObjC::ivarAddress<BOOL>(self, ivarNamed("_shouldReload"));
    return flag && *flag;
}

void setShouldReload(id self, SEL, BOOL value)
{
    if (BOOL* flag = ObjC::ivarAddress<BOOL>(self, ivarNamed("_shouldReload")))
        *flag = value;
}

__attribute__((constructor)) void registerController()
{
    ObjC::ClassDefinition definition("kestrelprefsRootListController", ObjC::getClass("PSListController"));
    definition.ivar<BOOL>("_shouldReload")
        .method("specifiers", &specifiers)
        .method("readPreferenceValue:", &readPreferenceValue)
        .method("setPreferenceValue:specifier:", &setPreferenceValue)
        .method("respring", &respring)
        .method("twitterlink", &twitterlink)
        .method("shouldReload", &shouldReload)
        .method("setShouldReload:", &setShouldReload);
    definition.registerClass();
}

} // namespace

id describeValue(id value)
{
    static SEL const length = sel("length");
    static SEL const description = sel("description");
    if (!value)
        return ObjC::string("(null)");
    if (isKindOf(value, s_string.get()))
        return value;
    if (isKindOf(value, s_number.get()))
        return describeNumber(value);
    if (isKindOf(value, s_data.get())) {
        id size = send<id>(ObjC::number(static_cast<long long>(send<unsigned long>(value, length))), description);
        return append(append(ObjC::string("{length = "), size), ObjC::string("}"));
    }
    if (isKindOf(value, s_date.get()))
        return describeDate(value);
    if (isKindOf(value, s_array.get()))
        return describeArray(value);
    if (isKindOf(value, s_dictionary.get()))
        return describeDictionary(value);
    return ObjC::string("(null)");
}
