// The injection framework's loader: every library in the device's
// DynamicLibraries folder whose filter names this process is loaded, so its
// load-time initialiser runs.
#pragma once

#include <string>
#include <vector>

namespace SpringBoardHost {

// Loads in name order; returns the names loaded. A library whose filter does
// not match is skipped; one that fails to load is logged and skipped.
std::vector<std::string> loadInjectedLibraries(const std::string& bundleIdentifier, const std::string& executableName);

} // namespace SpringBoardHost
