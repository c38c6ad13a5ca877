// The system log: one line per call appended to the device's /var/log/syslog, in the form
// "Mon DD HH:MM:SS device PROCESS[PID]: message".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace Platform {

constexpr std::string_view systemLogDevicePath = "/var/log/syslog";

// Appends the line (creating var/log if needed) with a single write on an O_APPEND
// descriptor, so lines from concurrent threads and processes never interleave. Line breaks
// in the message become blanks. Without a device root, or if the file cannot be opened, the
// line goes to standard error. Emits the timeline event "log MESSAGE".
void systemLog(std::string_view message);

// The log's lines, oldest first; empty if there is none. A log larger than a few tens of
// megabytes is read from its last part only.
std::vector<std::string> readSystemLog();

// The name the log gives this process: the last component of its executable's path.
std::string systemLogProcessName();

} // namespace Platform
