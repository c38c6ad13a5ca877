// The process's argument list, as the system reads it from its process info.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace Platform {

// The arguments the process was started with (/proc/self/cmdline), unless a test set its own.
std::vector<std::string> processArguments();

} // namespace Platform
