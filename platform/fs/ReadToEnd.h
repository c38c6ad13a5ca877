// Reading a descriptor (a pipe, a file) until its end.
#pragma once

#include <string>

namespace Platform {

// Appends everything left to read from fd to `contents`, retrying interrupted reads. Stops at
// the end or at the first error.
void readToEnd(int fd, std::string& contents);

} // namespace Platform
