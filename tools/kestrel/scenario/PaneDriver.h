// The settings pane as a session drives it: loaded the way the Settings app loads it,
// in this process, one row changed or one button pressed.
#pragma once

#include "host/settings/SettingsPane.h"
#include "platform/plist/Value.h"

#include <functional>
#include <optional>
#include <string>

namespace Kestrel {

// Loads the pane and runs work with it; nullopt, or why the pane could not be loaded.
Platform::Expected<void> usePane(const std::function<void(SettingsHost::SettingsPane&)>& work);

// Both answer nullopt on success, else what went wrong.
Platform::Expected<void> paneSet(const std::string& key, const std::string& word);
Platform::Expected<void> paneTap(const std::string& action);

} // namespace Kestrel
