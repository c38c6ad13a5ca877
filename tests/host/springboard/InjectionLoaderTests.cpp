// The injection loader loads a library only where its filter names this process (by
// bundle or by executable); a library without a readable filter, or one that cannot be
// loaded, is left, the latter with a line in the system log.
#include "host/springboard/InjectionLoader.h"
#include "platform/fs/DeviceRoot.h"
#include "platform/log/SystemLog.h"
#include "platform/plist/PropertyList.h"
#include "platform/plist/PropertyListWriter.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using namespace Platform::Plist;

Value filter(const char* kind, const char* name)
{
    Dictionary rules;
    rules.set(kind, Value(Array { Value::string(name) }));
    Dictionary file;
    file.set("Filter", Value(std::move(rules)));
    return Value(std::move(file));
}

TEST(InjectionLoader, LoadsOnlyWhatItsFilterNamesForThisProcess)
{
    char pattern[] = "/tmp/kestrel-injection-test.XXXXXX";
    ASSERT_TRUE(::mkdtemp(pattern));
    std::string root = pattern;
    Platform::setDeviceRoot(root);
    std::string folder = root + "/Library/MobileSubstrate/DynamicLibraries";
    fs::create_directories(folder);
    std::string probe = std::string(KESTREL_BUILD_DIR) + "/lib/InjectedProbe.dylib";
    for (const char* name : { "Bundle", "Executable", "OtherBundle", "NoFilter", "BadFilter", "Broken" }) {
        if (std::string(name) == "Broken")
            std::ofstream(folder + "/Broken.dylib") << std::string(512, 'z');
        else
            fs::copy_file(probe, folder + "/" + name + ".dylib");
    }
    ASSERT_TRUE(writeFileAtomically(folder + "/Bundle.plist", filter("Bundles", "com.apple.springboard")));
    ASSERT_TRUE(writeFileAtomically(folder + "/Executable.plist", filter("Executables", "SpringBoard")));
    ASSERT_TRUE(writeFileAtomically(folder + "/OtherBundle.plist", filter("Bundles", "com.apple.Preferences")));
    std::ofstream(folder + "/BadFilter.plist") << "<plist><dict><key>Filter";
    ASSERT_TRUE(writeFileAtomically(folder + "/Broken.plist", filter("Bundles", "com.apple.springboard")));

    auto loaded = SpringBoardHost::loadInjectedLibraries("com.apple.springboard", "SpringBoard");
    EXPECT_EQ(loaded, (std::vector<std::string> { "Bundle.dylib", "Executable.dylib" }));
    auto log = Platform::readSystemLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].find("could not load Broken.dylib"), std::string::npos) << log[0];

    EXPECT_TRUE(SpringBoardHost::loadInjectedLibraries("com.apple.Preferences", "Preferences")
        == std::vector<std::string> { "OtherBundle.dylib" });
    fs::remove_all(root);
}

} // namespace
