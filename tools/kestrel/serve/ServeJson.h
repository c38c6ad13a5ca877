// The simulator server's JSON: the device state, the pane's rows, and values as
// the page sends them turned into words of the scenario language.
#pragma once

#include "tools/kestrel/PaneListing.h"
#include "tools/kestrel/scenario/DeviceSession.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace Kestrel {

// The facts `state` prints, named as it names them.
nlohmann::json stateJson(const SessionState&);
// The words the state is written in, for the page to read it by: each two-state fact's
// word when it holds ("yes") and when it does not ("no"), and SpringBoard's states.
nlohmann::json wordsJson();

// The rows as `kestrel settings list` has them, with what a page needs to draw them.
nlohmann::json paneJson(const std::vector<PaneRow>&);

// A JSON value as the scenario writes it (yes, 3, 0.5, "text", nil); nullopt for
// arrays, objects and numbers a scenario cannot hold.
std::optional<std::string> scenarioWord(const nlohmann::json&);

// One line of JSON, whatever bytes the strings hold.
std::string jsonLine(const nlohmann::json&);
std::string jsonLine(const nlohmann::ordered_json&);

} // namespace Kestrel
