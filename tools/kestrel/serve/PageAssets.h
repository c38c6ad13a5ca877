// The simulator page's files, compiled into the program as a fixed table (the build
// turns every file of page/ into one entry). The server serves these and nothing else:
// no request reaches the file system.
#pragma once

#include <cstddef>
#include <string_view>

namespace Kestrel {

struct PageAsset {
    std::string_view path; // "/" for the page itself, "/assets/NAME" for the others
    std::string_view contentType;
    std::string_view bytes;
};

// The table the build generated.
extern const PageAsset pageAssetTable[];
extern const size_t pageAssetCount;

// The asset served at exactly this path; nullptr for every other path.
const PageAsset* findPageAsset(std::string_view path);

} // namespace Kestrel
