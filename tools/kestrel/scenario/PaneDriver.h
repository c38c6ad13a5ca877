// The settings pane as a session drives it: loaded the way the Settings app loads it,
// in this process, one row changed or one button pressed.
#pragma once

#include "platform/plist/Value.h"

#include <optional>
#include <string>

namespace Kestrel {

// Both answer nullopt on success, else what went wrong.
std::optional<std::string> paneSet(const std::string& key, const Platform::Plist::Value&);
std::optional<std::string> paneTap(const std::string& action);

} // namespace Kestrel
