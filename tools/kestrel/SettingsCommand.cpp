#include "tools/kestrel/SettingsCommand.h"

#include <cstdio>

namespace Kestrel {

int runSettingsCommand(const std::vector<std::string>&)
{
    std::fputs("kestrel: the settings pane is not available yet\n", stderr);
    return 2;
}

} // namespace Kestrel
