// The process arguments' test seam: nothing in the product calls it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace Platform {

// Arguments for processArguments() to answer instead of the real ones; nullopt goes back to
// the real arguments, and an empty vector makes the list empty.
void setProcessArgumentsForTesting(std::optional<std::vector<std::string>>);

} // namespace Platform
