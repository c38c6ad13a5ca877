#include "tools/kestrel/serve/ServeJson.h"

#include "host/device/Words.h"
#include "platform/foundation/CoreFoundation.h"
#include "platform/plist/ValueVisit.h"
#include "tools/kestrel/scenario/CommandParser.h"

#include <cmath>

using nlohmann::json;

namespace Kestrel {

namespace {

json valueJson(const std::optional<Platform::Plist::Value>& value)
{
    struct Json {
        json operator()(bool boolean) const { return boolean; }
        json operator()(int64_t integer) const { return integer; }
        json operator()(uint64_t integer) const { return integer; }
        json operator()(double real) const { return real; }
        json operator()(const std::string& text) const { return text; }
        json operator()(Platform::Plist::Kind kind) const
        {
            return std::string("(") + Platform::Plist::kindName(kind) + ")";
        }
    };
    return value ? Platform::Plist::visitScalar(*value, Json {}) : json(nullptr);
}

// A fact's two words, as the page reads them.
json factWords(const Driver::Fact& fact) { return { { "yes", fact.words.yes }, { "no", fact.words.no } }; }

void setIf(json& object, const char* name, const std::optional<std::string>& text)
{
    if (text)
        object[name] = *text;
}

} // namespace

json stateJson(const SessionState& state)
{
    json object;
    object["springboard"] = Driver::name(state.springBoard);
    object["generation"] = state.generation;
    object["line"] = describeState(state);
    if (state.springBoard != SessionState::SpringBoard::Running || !state.device)
        return object;
    const auto& device = *state.device;
    object[Driver::Facts::device.subject] = Driver::Facts::device.words(device.deviceLocked);
    object[Driver::Facts::lockscreen.subject] = Driver::Facts::lockscreen.words(device.lockscreenShown);
    object["launched"] = device.launched;
    object[Driver::Facts::audio.subject] = Driver::Facts::audio.words(device.audioPlaying);
    object["flashlight"] = device.flashlightLevel;
    json notifications = json::array();
    for (auto& section : device.notifications)
        notifications.push_back(section ? json(*section) : json(nullptr));
    object["notifications"] = std::move(notifications);
    object["ios"] = Platform::systemVersionString(device.ios);
    object["cf"] = device.coreFoundation;
    object[Driver::Facts::companion.subject] = Driver::Facts::companion.words(device.companionInstalled);
    return object;
}

json wordsJson()
{
    using SpringBoard = SessionState::SpringBoard;
    json words;
    for (auto& fact :
        { Driver::Facts::device, Driver::Facts::lockscreen, Driver::Facts::audio, Driver::Facts::companion })
        words[fact.subject] = factWords(fact);
    words["springboard"] = { { "notBooted", Driver::name(SpringBoard::NotBooted) },
        { "notRunning", Driver::name(SpringBoard::NotRunning) }, { "running", Driver::name(SpringBoard::Running) } };
    return words;
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
