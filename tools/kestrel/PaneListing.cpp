#include "tools/kestrel/PaneListing.h"

#include "host/device/Words.h"
#include "platform/foundation/FoundationValue.h"
#include "platform/plist/ValueVisit.h"
#include "tools/kestrel/scenario/CommandParser.h"

#include <cctype>

namespace Kestrel {

namespace {

std::optional<double> numberProperty(const Preferences::PSSpecifier& specifier, const char* key)
{
    auto value = specifier.propertyValue(key);
    if (!value || !(value->isInteger() || value->isReal()))
        return std::nullopt;
    return value->doubleValue();
}

// How the engine reads each key it asks for: switches by their boolean reading, the two
// intervals by their single-precision float reading, in seconds.
struct EngineReading {
    std::string_view key;
    bool seconds;
};
constexpr EngineReading engineReadings[] = {
    { "Enabled", false },
    { "DisableIfMusic", false },
    { "DisableIfFlashlight", false },
    { "DisableIfNotifications", false },
    { "AutoRetry", false },
    { "RetryInterval", true },
    { "DelayBeforeUnlock", false },
    { "DelayTime", true },
    { "BlockForTouch", false },
};

// A stored value as a note names it: as a check does (text always quoted, so that "yes" the
// text is not yes), and a value no scenario holds by its kind as the list shows it: "(array)".
struct StoredWord {
    const Platform::Plist::Value& value;
    std::string operator()(Platform::Plist::Kind) const { return SettingsHost::displayValue(value); }
    std::string operator()(const auto&) const { return describeValue(value); }
};
std::string storedText(const Platform::Plist::Value& value)
{
    return Platform::Plist::visitScalar(value, StoredWord { value });
}

} // namespace

ShownValue shownValue(const PaneRow& row)
{
    const EngineReading* reading = nullptr;
    for (auto& candidate : engineReadings) {
        if (row.key && *row.key == candidate.key)
            reading = &candidate;
    }
    if (!reading)
        return { SettingsHost::displayValue(row.value), {} };
    const auto& value = row.value;
    if (!reading->seconds) {
        bool plain = value
            && (value->isBoolean()
                || (value->isInteger() && !value->isLargeUnsigned()
                    && (value->integerValue() == 0 || value->integerValue() == 1)));
        return { value && value->boolValue() ? "on" : "off", !value || plain ? "" : "stored: " + storedText(*value) };
    }
    float seconds = value ? value->floatValue() : 0.0f;
    ShownValue shown { Device::floatText(seconds) + " s", {} };
    if (value && !value->isInteger() && !value->isReal())
        shown.note = "stored: " + storedText(*value);
    else if ((row.minimum && seconds < *row.minimum) || (row.maximum && seconds > *row.maximum))
        shown.note = "out of the slider's range " + Device::floatText(float(row.minimum.value_or(seconds))) + " to "
            + Device::floatText(float(row.maximum.value_or(seconds)));
    return shown;
}

std::string cellTypeWord(int64_t cellType)
{
    std::string name = Preferences::cellTypeName(cellType);
    if (name.starts_with("PS"))
        name = name.substr(2);
    if (name.ends_with("Cell"))
        name.resize(name.size() - 4);
    for (char& character : name)
        character = char(std::tolower(static_cast<unsigned char>(character)));
    return name;
}

std::vector<PaneRow> paneListing(SettingsHost::SettingsPane& pane)
{
    std::vector<PaneRow> listing;
    for (auto& shown : pane.rows()) {
        auto& specifier = *Preferences::PSSpecifier::from(shown.specifier);
        int64_t type = specifier.cellType();
        PaneRow row;
        row.label = specifier.stringProperty("label");
        if (type == Preferences::PSGroupCell) {
            auto note = specifier.stringProperty("footerText");
            bool custom = false;
            for (auto [property, word] :
                { std::pair { "headerCellClass", "header" }, std::pair { "footerCellClass", "footer" } }) {
                auto view = pane.customView(shown.specifier, property);
                if (!view)
                    continue;
                PaneRow viewRow;
                viewRow.type = word;
                viewRow.viewClass = class_getName(ObjC::classOf(view));
                viewRow.viewText = SettingsHost::labelTexts(view);
                viewRow.note = note;
                listing.push_back(std::move(viewRow));
                custom = true;
            }
            if (!custom) {
                row.type = "group";
                row.note = note;
                listing.push_back(std::move(row));
            }
            continue;
        }
        if (type == Preferences::PSButtonCell) {
            row.type = "button";
            row.action = specifier.stringProperty("action");
            listing.push_back(std::move(row));
            continue;
        }
        row.type = cellTypeWord(type);
        row.key = specifier.stringProperty("key");
        row.holdsValue = Preferences::cellTypeHoldsValue(type);
        if (row.holdsValue)
            row.value = Platform::propertyListValue(shown.value);
        if (type == Preferences::PSSliderCell) {
            row.minimum = numberProperty(specifier, "min");
            row.maximum = numberProperty(specifier, "max");
        }
        listing.push_back(std::move(row));
    }
    return listing;
}

} // namespace Kestrel
