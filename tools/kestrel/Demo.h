// kestrel demo: a guided tour of the unlock decision on a fresh device.
#pragma once

#include <string>
#include <vector>

namespace Kestrel {

int runDemo(const std::vector<std::string>& arguments);

} // namespace Kestrel
