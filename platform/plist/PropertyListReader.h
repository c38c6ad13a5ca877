// Reading property lists (XML and binary `bplist00`, told apart by content) from bytes or from
// a file, and the settings lookup: one key of a file that is opened, read and parsed every time.
//
// Every input is treated as hostile: what the platform's reader rejects, and anything that would
// crash, hang or allocate without bound, comes back as an ordinary error with a short reason.
// Duplicate dictionary keys are accepted in both forms; the last one in the file wins.
// Nesting is limited to 512 containers. In a binary file a non-empty container may be
// referenced only once (this rejects cycles and files that would fan out when expanded).
#pragma once

#include "platform/plist/Value.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace Platform::Plist {

// Files above this size are refused unread.
constexpr std::size_t maximumFileSize = 16 * 1024 * 1024;
constexpr unsigned maximumNestingDepth = 512;

enum class ReadStatus : std::uint8_t {
    Ok,
    Missing, // the file does not exist (ENOENT); callers treat this apart from every other failure
    Unreadable, // anything else: not a regular file, too large, unreadable, not a property list
};

struct ReadResult {
    ReadStatus status { ReadStatus::Unreadable };
    Value value; // the root, when status is Ok
    std::string reason; // short and human, otherwise: "no such file", "XML: line 3: unknown tag <foo>"

    bool ok() const { return status == ReadStatus::Ok; }
    bool isMissing() const { return status == ReadStatus::Missing; }
};

enum class LookupStatus : std::uint8_t {
    Found,
    KeyAbsent, // the file is a valid property list whose root dictionary lacks the key
    Missing,
    Unreadable, // includes a valid property list whose root is not a dictionary
};

struct LookupResult {
    LookupStatus status { LookupStatus::Unreadable };
    Value value; // when Found
    std::string reason; // when Missing or Unreadable
};

ReadResult parse(std::string_view bytes);
ReadResult readFile(const std::string& hostPath);

// Opens, reads and validates the whole file every time (no caching), but builds only the value
// of `key` in the root dictionary. The answer always agrees with readFile() followed by find().
LookupResult lookup(const std::string& hostPath, std::string_view key);
LookupResult lookupInBytes(std::string_view bytes, std::string_view key);

} // namespace Platform::Plist
