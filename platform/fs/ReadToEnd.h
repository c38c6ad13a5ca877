// Reading a descriptor (a pipe, a file) until its end.
#pragma once

#include <cstddef>
#include <limits>
#include <string>

namespace Platform {

// Appends what is left to read from fd to `contents`, retrying interrupted reads, keeping at
// most `limit` bytes in `contents`. True when the end was reached within the limit; false at
// the first error or once the limit is reached (the rest is left unread).
bool readToEnd(int fd, std::string& contents, size_t limit = std::numeric_limits<size_t>::max());

} // namespace Platform
