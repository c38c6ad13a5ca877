#include "host/settings/SettingsPane.h"

#include "host/device/Words.h"
#include "platform/fs/DeviceRoot.h"
#include "platform/plist/PropertyList.h"
#include "platform/uikit/UIKit.h"

#include <cmath>
#include <dlfcn.h>

using namespace Runtime;
using namespace Platform::Plist;
using Preferences::PSSpecifier;

namespace SettingsHost {

namespace {

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

std::optional<double> numberProperty(const PSSpecifier& specifier, std::string_view key)
{
    auto* value = specifier.propertyList().find(key);
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

std::unique_ptr<SettingsPane> SettingsPane::open(std::string& error, const std::string& entryName)
{
    if (!isPlainName(entryName)) {
        error = "bad pane name " + entryName;
        return nullptr;
    }
    std::string entryPath = Platform::resolve(std::string(entryFolder) + "/" + entryName + ".plist");
    auto entryFile = readFile(entryPath);
    if (entryFile.isMissing()) {
        error = "no Settings entry " + entryName + ".plist: its pane is not installed";
        return nullptr;
    }
    const Value* entry
        = entryFile.ok() && entryFile.value.asDictionary() ? entryFile.value.asDictionary()->find("entry") : nullptr;
    auto bundleName = entry && entry->asDictionary() ? stringIn(*entry->asDictionary(), "bundle") : std::nullopt;
    if (!bundleName || !isPlainName(*bundleName)) {
        error = "the Settings entry " + entryName + ".plist names no bundle"
            + (entryFile.ok() ? "" : " (" + entryFile.reason + ")");
        return nullptr;
    }

    std::string bundlePath = Platform::resolve(std::string(bundleFolder) + "/" + *bundleName + ".bundle");
    auto info = readFile(bundlePath + "/Info.plist");
    const Dictionary* infoDictionary = info.ok() ? info.value.asDictionary() : nullptr;
    auto executable = infoDictionary ? stringIn(*infoDictionary, "CFBundleExecutable") : std::nullopt;
    auto principalClass = infoDictionary ? stringIn(*infoDictionary, "NSPrincipalClass") : std::nullopt;
    if (!executable || !principalClass || !isPlainName(*executable)) {
        error = "the bundle " + *bundleName + " has no usable Info.plist";
        return nullptr;
    }
    if (!dlopen((bundlePath + "/" + *executable).c_str(), RTLD_NOW | RTLD_LOCAL)) {
        const char* reason = dlerror();
        error = "cannot load the bundle " + *bundleName + ": " + (reason ? reason : "unknown error");
        return nullptr;
    }
    Class* cls = classFromString(*principalClass);
    if (!cls || !cls->isSubclassOf(Preferences::PSListController::runtimeClass())) {
        error = "the bundle " + *bundleName + " has no list controller " + *principalClass;
        return nullptr;
    }
    Preferences::setBundlePathForClass(cls, bundlePath);

    std::unique_ptr<SettingsPane> pane(new SettingsPane);
    pane->m_bundlePath = bundlePath;
    pane->m_controller = checkedDowncast<Preferences::PSListController>(allocInit(cls).get());
    return pane;
}

const std::vector<Preferences::PSListController::ShownRow>& SettingsPane::rows()
{
    send(m_controller, "reloadSpecifiers");
    return m_controller->shownRows();
}

RefPtr<Object> SettingsPane::customView(const PSSpecifier& group, const char* property) const
{
    auto className = group.stringProperty(property);
    Class* cls = className ? classFromString(*className) : nullptr;
    if (!Preferences::conformsToPreferencesTableCustomView(cls))
        return nullptr;
    auto allocated = send<RefPtr<Object>>(cls, "alloc");
    return send<RefPtr<Object>>(allocated, "initWithSpecifier:", const_cast<PSSpecifier*>(&group));
}

RefPtr<PSSpecifier> SettingsPane::rowWithKey(const std::string& key)
{
    for (auto& row : rows()) {
        if (Preferences::cellTypeHoldsValue(row.specifier->cellType()) && row.specifier->stringProperty("key") == key)
            return row.specifier;
    }
    return nullptr;
}

RefPtr<PSSpecifier> SettingsPane::buttonWithAction(const std::string& action)
{
    for (auto& row : rows()) {
        if (row.specifier->cellType() == Preferences::PSButtonCell && row.specifier->stringProperty("action") == action)
            return row.specifier;
    }
    return nullptr;
}

std::optional<std::string> SettingsPane::setValue(const std::string& key, const std::string& typed)
{
    auto row = rowWithKey(key);
    if (!row)
        return "the pane has no row with the key " + key;
    std::string label = row->stringProperty("label").value_or(key);
    // A quoted word is text: never a switch position or a number.
    bool bare = !Device::isQuoted(typed);
    std::optional<Value> value;
    switch (row->cellType()) {
    case Preferences::PSSwitchCell: {
        auto on = bare ? Device::parseSwitchWord(typed) : std::nullopt;
        if (!on)
            return key + " is a switch: use " + Device::switchWords + ", not " + typed;
        value = Value::boolean(*on);
        break;
    }
    case Preferences::PSSliderCell: {
        std::string why;
        auto number = bare ? Device::parseNumber(typed, why) : std::nullopt;
        if (!number)
            return key + " is a slider: " + (why.empty() ? "use a number, not " + typed : why);
        double given = number->value();
        auto minimum = numberProperty(*row, "min");
        auto maximum = numberProperty(*row, "max");
        if ((minimum && given < *minimum) || (maximum && given > *maximum)) {
            return key + " is a slider from " + formatNumber(minimum.value_or(given)) + " to "
                + formatNumber(maximum.value_or(given)) + ": " + typed + " is outside it";
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
        return key + " (" + label + ") is not a row that can be changed";
    }
    send(m_controller, "setPreferenceValue:specifier:", value, row.get());

    // The pane never reports a failed write; the Settings host checks the
    // row's settings file itself, so a write that did not land is not taken for one that did.
    if (auto domain = row->stringProperty("defaults"); domain && isPlainName(*domain)) {
        auto file = readFile(Platform::resolve("/var/mobile/Library/Preferences/" + *domain + ".plist"));
        const Value* stored = file.ok() && file.value.asDictionary() ? file.value.asDictionary()->find(key) : nullptr;
        if (!stored || !(*stored == *value))
            return "the pane could not store " + key + " in the settings file";
    }
    return std::nullopt;
}

std::optional<std::string> SettingsPane::tap(const std::string& action)
{
    auto button = buttonWithAction(action);
    if (!button)
        return "the pane has no button with the action " + action;
    auto target = send<RefPtr<Object>>(button, "target");
    Selector selector = button->buttonAction();
    if (!target || !respondsToSelector(target.get(), selector))
        return "the button " + action + " does nothing: its target does not answer " + action;
    send(target, selector);
    return std::nullopt;
}

std::string labelTexts(Object* view)
{
    std::string texts;
    auto* uiView = dynamic_cast<UIKit::UIView*>(view);
    if (!uiView)
        return texts;
    if (auto* label = dynamic_cast<UIKit::UILabel*>(uiView)) {
        if (auto text = stringValue(send<RefPtr<Object>>(label, "text").get()))
            texts = *text;
    }
    for (auto& subview : uiView->subviewList()) {
        std::string inner = labelTexts(subview.get());
        if (!inner.empty())
            texts += (texts.empty() ? "" : " / ") + inner;
    }
    return texts;
}

std::string displayValue(const std::optional<Value>& value)
{
    if (!value)
        return "-";
    switch (value->kind()) {
    case Kind::Boolean:
        return value->boolValue() ? "yes" : "no";
    case Kind::Integer:
        return value->isLargeUnsigned() ? std::to_string(value->unsignedIntegerValue())
                                        : std::to_string(value->integerValue());
    case Kind::Real:
        return formatNumber(value->doubleValue());
    case Kind::String:
        return Device::displayWord(*value->asString());
    default:
        return std::string("(") + kindName(value->kind()) + ")";
    }
}

} // namespace SettingsHost
