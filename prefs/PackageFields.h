// Parsing the status record the package database's query tool prints: plain text processing,
// apart from the tool and the runtime so that it can be fuzzed on its own.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

// The fields of a status record: lines split at "\n" only, each at its first
// ": " (name before, value after, neither trimmed), the last of equal names
// winning; lines without ": " are skipped. Nullopt when the bytes are not UTF-8.
std::optional<std::map<std::string, std::string>> parsePackageFields(std::string_view output);
