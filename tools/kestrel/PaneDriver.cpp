#include "tools/kestrel/PaneDriver.h"

namespace Kestrel {

std::optional<std::string> paneSet(const std::string&, const std::string&, const ScenarioValue&)
{
    return "the settings pane is not available yet";
}

std::optional<std::string> paneTap(const std::string&, const std::string&)
{
    return "the settings pane is not available yet";
}

} // namespace Kestrel
