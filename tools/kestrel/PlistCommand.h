// `kestrel plist print FILE`: shows a property list (XML or binary) in the platform's XML form.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// `args` are the words after `plist`. Exit status: 0 printed, 1 the file could not be read
// (one line "kestrel: FILE: REASON" on standard error), 2 usage error.
int runPlistCommand(const std::vector<std::string>& args);
int runPlistCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
