// The settings pane as the scenario driver uses it: loaded the way the
// Settings app loads it, in this process, one row changed or one button pressed.
#pragma once

#include "tools/kestrel/Scenario.h"

#include <optional>
#include <string>

namespace Kestrel {

// Both answer nullopt on success, else what went wrong.
std::optional<std::string> paneSet(const std::string& deviceRoot, const std::string& key, const ScenarioValue&);
std::optional<std::string> paneTap(const std::string& deviceRoot, const std::string& action);

} // namespace Kestrel
