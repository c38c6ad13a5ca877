#include "tools/kestrel/serve/PageAssets.h"

namespace Kestrel {

const PageAsset* findPageAsset(std::string_view path)
{
    for (size_t i = 0; i < pageAssetCount; ++i) {
        if (pageAssetTable[i].path == path)
            return &pageAssetTable[i];
    }
    return nullptr;
}

} // namespace Kestrel
