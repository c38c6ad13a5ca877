#include "tools/kestrel/serve/ServeJson.h"

#include "host/device/Words.h"
#include "platform/foundation/CoreFoundation.h"
#include "tools/kestrel/scenario/CommandParser.h"

#include <cmath>

using nlohmann::json;

namespace Kestrel {

namespace {

json valueJson(const std::optional<Platform::Plist::Value>& value)
{
    if (!value)
        return nullptr;
    if (value->isBoolean())
        return value->boolValue();
    if (value->isInteger())
        return value->isLargeUnsigned() ? json(value->unsignedIntegerValue()) : json(value->integerValue());
    if (value->isReal())
        return value->doubleValue();
    if (auto text = value->asString())
        return *text;
    return std::string("(") + Platform::Plist::kindName(value->kind()) + ")";
}

void setIf(json& object, const char* name, const std::optional<std::string>& text)
{
    if (text)
        object[name] = *text;
}

} // namespace

json stateJson(const SessionState& state)
{
    json object;
    object["springboard"] = state.springBoard == SessionState::SpringBoard::Running ? "running"
        : state.springBoard == SessionState::SpringBoard::NotRunning                ? "not-running"
                                                                                    : "not-booted";
    object["generation"] = state.generation;
    object["line"] = describeState(state);
    if (state.springBoard != SessionState::SpringBoard::Running || !state.device)
        return object;
    const auto& device = *state.device;
    object["device"] = device.deviceLocked ? "locked" : "unlocked";
    object["lockscreen"] = device.lockscreenShown ? "shown" : "dismissed";
    object["launched"] = device.launched;
    object["audio"] = device.audioPlaying ? "playing" : "stopped";
    object["flashlight"] = device.flashlightLevel;
    json notifications = json::array();
    for (auto& section : device.notifications)
        notifications.push_back(section ? json(*section) : json(nullptr));
    object["notifications"] = std::move(notifications);
    object["ios"] = Platform::systemVersionString(device.ios);
    object["cf"] = device.coreFoundation;
    object["companion"] = device.companionInstalled ? "installed" : "absent";
    return object;
}

json paneJson(const std::vector<PaneRow>& rows)
{
    json list = json::array();
    for (auto& row : rows) {
        json object;
        object["type"] = row.type;
        setIf(object, "label", row.label);
        setIf(object, "key", row.key);
        setIf(object, "action", row.action);
        setIf(object, "note", row.note);
        if (row.type == "header" || row.type == "footer") {
            object["class"] = row.viewClass;
            object["text"] = row.viewText;
        }
        if (row.holdsValue)
            object["value"] = valueJson(row.value);
        if (row.minimum)
            object["min"] = *row.minimum;
        if (row.maximum)
            object["max"] = *row.maximum;
        list.push_back(std::move(object));
    }
    return json { { "rows", std::move(list) } };
}

std::optional<std::string> scenarioWord(const json& value)
{
    using Platform::Plist::Value;
    ScenarioValue converted; // nil for null
    if (value.is_boolean())
        converted = Value::boolean(value.get<bool>());
    else if (value.is_number_integer() && !(value.is_number_unsigned() && value.get<uint64_t>() > uint64_t(INT64_MAX)))
        converted = Value::integer(value.get<int64_t>());
    else if (value.is_number_float() && std::isfinite(value.get<double>()))
        converted = Value::real(value.get<double>());
    else if (value.is_string() && Device::fitsOnALine(value.get_ref<const std::string&>()))
        // A string is a word as typed: "yes" sets a switch, "2.5" a slider, and text that is
        // no plain word goes in quotes.
        return Device::displayWord(value.get<std::string>());
    else if (!value.is_null())
        return std::nullopt;
    return describeValue(converted);
}

std::string jsonLine(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace) + "\n"; }

std::string jsonLine(const nlohmann::ordered_json& value)
{
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

} // namespace Kestrel
