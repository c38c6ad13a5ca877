// The page's files are a fixed table: exactly the files of page/, and no other path.
#include "tools/kestrel/serve/PageAssets.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace Kestrel;

TEST(PageAssets, TheTableHoldsThePageFilesAndNothingElse)
{
    size_t files = 0;
    for (auto& entry : std::filesystem::directory_iterator(KESTREL_SOURCE_DIR "/tools/kestrel/serve/page")) {
        std::string name = entry.path().filename().string();
        auto* asset = findPageAsset(name == "index.html" ? "/" : "/assets/" + name);
        ASSERT_TRUE(asset) << name;
        std::ifstream stream(entry.path(), std::ios::binary);
        std::ostringstream bytes;
        bytes << stream.rdbuf();
        EXPECT_EQ(asset->bytes, bytes.str()) << name << " is compiled in whole, byte for byte";
        ++files;
    }
    EXPECT_EQ(pageAssetCount, files);
    EXPECT_TRUE(findPageAsset("/")->contentType.starts_with("text/html"));
    EXPECT_TRUE(findPageAsset("/assets/simulator.js")->contentType.starts_with("text/javascript"));

    for (const char* path :
        { "/index.html", "/assets/index.html", "/assets/", "/assets", "", "/assets/../../etc/passwd",
            "/assets/simulator.js/../simulator.css", "/assets//simulator.js", "/assets/Simulator.js",
            "/assets/simulator.js ", "/assets/./simulator.js", "assets/simulator.js", "/etc/passwd" })
        EXPECT_FALSE(findPageAsset(path)) << path;
}
