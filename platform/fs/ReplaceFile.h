// The one way a file is written whole: into a temporary file beside it, then renamed over it,
// so a reader never sees half a file and a running program keeps the file it started from.
#pragma once

#include "platform/Expected.h"

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace Platform {

struct ReplaceOptions {
    // The new file's mode; nullopt keeps the mode of the file it replaces (0644 for a new one).
    std::optional<mode_t> mode;
    // Synced to the disk, with the folder's entry, before the call returns.
    bool durable { true };
    // Make the folders above it first.
    bool makeFolders { false };
    // The temporary file's path, for a format that names it (dpkg's journal); empty for a name
    // of our own beside the file that no other writer can take.
    std::string temporary;
};

// Writes contents to the host path as above. The failure names the path and why.
Expected<void> replaceFile(const std::string& hostPath, std::string_view contents, const ReplaceOptions& = {});

} // namespace Platform
