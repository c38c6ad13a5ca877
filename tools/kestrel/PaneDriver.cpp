#include "tools/kestrel/PaneDriver.h"

#include "host/settings/PaneRenderer.h"
#include "host/settings/SettingsPane.h"
#include "platform/notify/Notify.h"

#include <cstdio>

namespace Kestrel {

namespace {

// The row's new value as the command line would give it.
std::optional<std::string> wordFor(const ScenarioValue& value)
{
    switch (value.kind) {
    case ScenarioValue::Kind::Boolean:
        return std::string(value.boolean ? "yes" : "no");
    case ScenarioValue::Kind::Integer:
        return std::to_string(value.integer);
    case ScenarioValue::Kind::Real: {
        char text[64];
        std::snprintf(text, sizeof(text), "%.17g", value.real);
        return std::string(text);
    }
    case ScenarioValue::Kind::String:
        return "\"" + value.string + "\"";
    case ScenarioValue::Kind::Nil:
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> paneSet(const std::string&, const std::string& key, const ScenarioValue& value)
{
    auto word = wordFor(value);
    if (!word)
        return "a row cannot be set to nil";
    SettingsHost::configureScreenFromDevice();
    std::string error;
    auto pane = SettingsHost::SettingsPane::open(error);
    if (!pane)
        return error;
    if (auto problem = pane->setValue(key, *word))
        return problem;
    return std::nullopt;
}

std::optional<std::string> paneTap(const std::string&, const std::string& action)
{
    SettingsHost::configureScreenFromDevice();
    std::string error;
    auto pane = SettingsHost::SettingsPane::open(error);
    if (!pane)
        return error;
    return pane->tap(action);
}

} // namespace Kestrel
