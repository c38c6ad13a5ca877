// kestrel settings DIR list|set|tap|render: the settings pane from the command line.
#pragma once

#include <string>
#include <vector>

namespace Kestrel {

int runSettingsCommand(const std::vector<std::string>& arguments);

} // namespace Kestrel
