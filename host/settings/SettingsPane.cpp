#include "host/settings/SettingsPane.h"

#include "host/device/Words.h"
#include "platform/foundation/FoundationValue.h"
#include "platform/fs/DeviceRoot.h"
#include "platform/fs/JailbreakRoot.h"
#include "platform/plist/PropertyList.h"
#include "platform/plist/ValueVisit.h"
#include "platform/uikit/UIKit.h"

#include <cmath>
#include <dlfcn.h>

using namespace Platform::Plist;
using ObjC::send;
using ObjC::sel;
using Preferences::PSSpecifier;

namespace SettingsHost {

namespace {

// Under the jailbreak's root: /var/jb on a rootless device.
constexpr const char* entryFolder = "/Library/PreferenceLoader/Preferences";
constexpr const char* bundleFolder = "/Library/PreferenceBundles";

std::optional<std::string> stringIn(const Dictionary& dictionary, std::string_view key)
{
    auto* value = dictionary.find(key);
    if (!value || !value->asString() || value->asString()->empty())
        return std::nullopt;
    return *value->asString();
}

bool isPlainName(const std::string& name)
{
    return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

std::optional<double> numberProperty(const PSSpecifier& specifier, const char* key)
{
    auto value = specifier.propertyValue(key);
    if (!value || !(value->isInteger() || value->isReal() || value->isBoolean()))
        return std::nullopt;
    return value->doubleValue();
}

std::string formatNumber(double value)
{
    char text[64];
    std::snprintf(text, sizeof(text), "%g", value);
    return text;
}

} // namespace

Platform::Expected<std::unique_ptr<SettingsPane>> SettingsPane::open(const std::string& entryName)
{
    if (!isPlainName(entryName)) {
        return Platform::Failure { "bad pane name " + entryName };
    }
    std::string entryPath = Platform::resolve(std::string(Platform::jailbreakRoot()) + entryFolder + "/" + entryName + ".plist");
    auto entryFile = readFile(entryPath);
    if (entryFile.isMissing()) {
        return Platform::Failure { "no Settings entry " + entryName + ".plist: its pane is not installed" };
    }
    const Value* entry
        = entryFile.ok() && entryFile.value.asDictionary() ? entryFile.value.asDictionary()->find("entry") : nullptr;
    auto bundleName = entry && entry->asDictionary() ? stringIn(*entry->asDictionary(), "bundle") : std::nullopt;
    if (!bundleName || !isPlainName(*bundleName)) {
        return Platform::Failure { "the Settings entry " + entryName + ".plist names no bundle"
            + (entryFile.ok() ? "" : " (" + entryFile.reason + ")") };
    }

    std::string bundlePath = Platform::resolve(std::string(Platform::jailbreakRoot()) + bundleFolder + "/" + *bundleName + ".bundle");
    auto info = readFile(bundlePath + "/Info.plist");
    const Dictionary* infoDictionary = info.ok() ? info.value.asDictionary() : nullptr;
    auto executable = infoDictionary ? stringIn(*infoDictionary, "CFBundleExecutable") : std::nullopt;
    auto principalClass = infoDictionary ? stringIn(*infoDictionary, "NSPrincipalClass") : std::nullopt;
    if (!executable || !principalClass || !isPlainName(*executable)) {
        return Platform::Failure { "the bundle " + *bundleName + " has no usable Info.plist" };
    }
    if (!dlopen((bundlePath + "/" + *executable).c_str(), RTLD_NOW | RTLD_LOCAL)) {
        const char* reason = dlerror();
        return Platform::Failure { "cannot load the bundle " + *bundleName + ": " + (reason ? reason : "unknown error") };
    }
    Class cls = ObjC::classFromString(principalClass->c_str());
    if (!cls || !Preferences::isSubclassOf(cls, Preferences::PSListController::runtimeClass())) {
        return Platform::Failure { "the bundle " + *bundleName + " has no list controller " + *principalClass };
    }
    Preferences::setBundlePathForClass(cls, bundlePath);

    std::unique_ptr<SettingsPane> pane(new SettingsPane);
    pane->m_bundlePath = bundlePath;
    pane->m_controller = ObjC::allocInit(cls);
    return pane;
}

const std::vector<Preferences::PSListController::ShownRow>& SettingsPane::rows()
{
    static SEL const reloadSpecifiers = sel("reloadSpecifiers");
    send(m_controller, reloadSpecifiers);
    return Preferences::PSListController::from(m_controller)->shownRows();
}

ObjC::RetainPtr SettingsPane::customView(id group, const char* property) const
{
    static SEL const alloc = sel("alloc");
    static SEL const initWithSpecifier = sel("initWithSpecifier:");
    PSSpecifier* specifier = PSSpecifier::from(group);
    auto className = specifier ? specifier->stringProperty(property) : std::nullopt;
    Class cls = className ? ObjC::classFromString(className->c_str()) : nullptr;
    if (!Preferences::conformsToPreferencesTableCustomView(cls))
        return nullptr;
    return ObjC::adopt(send<id>(send<id>(cls, alloc), initWithSpecifier, group));
}

ObjC::RetainPtr SettingsPane::rowWithKey(const std::string& key)
{
    for (auto& row : rows()) {
        PSSpecifier* specifier = PSSpecifier::from(row.specifier);
        if (Preferences::cellTypeHoldsValue(specifier->cellType()) && specifier->stringProperty("key") == key)
            return row.specifier;
    }
    return nullptr;
}

ObjC::RetainPtr SettingsPane::buttonWithAction(const std::string& action)
{
    for (auto& row : rows()) {
        PSSpecifier* specifier = PSSpecifier::from(row.specifier);
        if (specifier->cellType() == Preferences::PSButtonCell && specifier->stringProperty("action") == action)
            return row.specifier;
    }
    return nullptr;
}

Platform::Expected<void> SettingsPane::setValue(const std::string& key, const std::string& typed)
{
    static SEL const setPreferenceValue = sel("setPreferenceValue:specifier:");
    ObjC::RetainPtr rowObject = rowWithKey(key);
    PSSpecifier* row = PSSpecifier::from(rowObject);
    if (!row)
        return Platform::Failure { "the pane has no row with the key " + key };
    std::string label = row->stringProperty("label").value_or(key);
    // A quoted word is text: never a switch position or a number.
    bool bare = !Device::isQuoted(typed);
    std::optional<Value> value;
    switch (row->cellType()) {
    case Preferences::PSSwitchCell: {
        auto on = bare ? Device::parseSwitchWord(typed) : std::nullopt;
        if (!on)
            return Platform::Failure { key + " is a switch: use " + Device::switchWords + ", not " + typed };
        value = Value::boolean(*on);
        break;
    }
    case Preferences::PSSliderCell: {
        auto number = bare ? Device::parseNumber(typed) : std::optional<Device::Number>();
        if (!number)
            return Platform::Failure { key + " is a slider: " + number.error() };
        if (!*number)
            return Platform::Failure { key + " is a slider: use a number, not " + typed };
        double given = (*number)->value();
        auto minimum = numberProperty(*row, "min");
        auto maximum = numberProperty(*row, "max");
        if ((minimum && given < *minimum) || (maximum && given > *maximum)) {
            return Platform::Failure { key + " is a slider from " + formatNumber(minimum.value_or(given)) + " to "
                + formatNumber(maximum.value_or(given)) + ": " + typed + " is outside it" };
        }
        value = Value::real(given);
        break;
    }
    case Preferences::PSEditTextCell:
    case Preferences::PSSecureEditTextCell:
    case Preferences::PSEditTextViewCell:
        value = Value::string(Device::unquote(typed));
        break;
    default:
        return Platform::Failure { key + " (" + label + ") is not a row that can be changed" };
    }
    send(m_controller, setPreferenceValue, Platform::foundationObject(*value), rowObject.get());

    // The pane never reports a failed write; the Settings host checks the
    // row's settings file itself, so a write that did not land is not taken for one that did.
    if (auto domain = row->stringProperty("defaults"); domain && isPlainName(*domain)) {
        auto file = readFile(Platform::resolve("/var/mobile/Library/Preferences/" + *domain + ".plist"));
        const Value* stored = file.ok() && file.value.asDictionary() ? file.value.asDictionary()->find(key) : nullptr;
        if (!stored || !(*stored == *value))
            return Platform::Failure { "the pane could not store " + key + " in the settings file" };
    }
    return {};
}

Platform::Expected<void> SettingsPane::tap(const std::string& action)
{
    static SEL const targetSelector = sel("target");
    static SEL const buttonAction = sel("buttonAction");
    auto button = buttonWithAction(action);
    if (!button)
        return Platform::Failure { "the pane has no button with the action " + action };
    id target = send<id>(button, targetSelector);
    SEL selector = send<SEL>(button, buttonAction);
    if (!target || !selector || !ObjC::respondsToSelector(target, selector))
        return Platform::Failure { "the button " + action + " does nothing: its target does not answer " + action };
    send(target, selector);
    return {};
}

std::string labelTexts(id object)
{
    std::string texts;
    UIKit::UIView* view = UIKit::UIView::from(object);
    if (!view)
        return texts;
    static SEL const text = sel("text");
    if (UIKit::UILabel::from(object))
        texts = Platform::stringValue(send<id>(object, text)).value_or("");
    for (auto& subview : view->subviewList()) {
        std::string inner = labelTexts(subview);
        if (!inner.empty())
            texts += (texts.empty() ? "" : " / ") + inner;
    }
    return texts;
}

std::string displayValue(id value) { return displayValue(Platform::propertyListValue(value)); }

std::string displayValue(const std::optional<Value>& value)
{
    struct Display {
        std::string operator()(bool boolean) const { return Device::yesNo(boolean); }
        std::string operator()(int64_t integer) const { return std::to_string(integer); }
        std::string operator()(uint64_t integer) const { return std::to_string(integer); }
        std::string operator()(double real) const { return formatNumber(real); }
        std::string operator()(const std::string& text) const { return Device::displayWord(text); }
        std::string operator()(Kind kind) const { return std::string("(") + kindName(kind) + ")"; }
    };
    return value ? visitScalar(*value, Display {}) : "-";
}

} // namespace SettingsHost
