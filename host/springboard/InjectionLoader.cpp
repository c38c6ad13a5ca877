#include "host/springboard/InjectionLoader.h"

#include "platform/fs/DeviceRoot.h"
#include "platform/fs/JailbreakRoot.h"
#include "platform/log/SystemLog.h"
#include "platform/plist/PropertyList.h"

#include <algorithm>
#include <dirent.h>
#include <dlfcn.h>

namespace SpringBoardHost {

namespace {

// Under the jailbreak's root: /var/jb on a rootless device.
constexpr const char* libraryFolder = "/Library/MobileSubstrate/DynamicLibraries";

bool arrayContains(const Platform::Plist::Value* array, const std::string& text)
{
    if (!array || !array->asArray())
        return false;
    for (auto& entry : *array->asArray()) {
        if (entry.asString() && *entry.asString() == text)
            return true;
    }
    return false;
}

// A library is injected only where its filter property list says so.
bool filterMatches(const std::string& filterPath, const std::string& bundleIdentifier, const std::string& executableName)
{
    auto filter = Platform::Plist::readFile(filterPath);
    if (!filter.ok() || !filter.value.asDictionary())
        return false;
    auto* rules = filter.value.asDictionary()->find("Filter");
    if (!rules || !rules->asDictionary())
        return false;
    return arrayContains(rules->asDictionary()->find("Bundles"), bundleIdentifier)
        || arrayContains(rules->asDictionary()->find("Executables"), executableName);
}

} // namespace

std::vector<std::string> loadInjectedLibraries(const std::string& bundleIdentifier, const std::string& executableName)
{
    std::string folder = Platform::resolve(std::string(Platform::jailbreakRoot()) + libraryFolder);
    std::vector<std::string> names;
    if (DIR* directory = opendir(folder.c_str())) {
        while (auto* entry = readdir(directory)) {
            std::string name = entry->d_name;
            if (name.size() > 6 && name.ends_with(".dylib"))
                names.push_back(name);
        }
        closedir(directory);
    }
    std::sort(names.begin(), names.end());

    std::vector<std::string> loaded;
    for (auto& name : names) {
        std::string base = name.substr(0, name.size() - 6);
        if (!filterMatches(folder + "/" + base + ".plist", bundleIdentifier, executableName))
            continue;
        if (!dlopen((folder + "/" + name).c_str(), RTLD_NOW | RTLD_GLOBAL)) {
            const char* error = dlerror();
            Platform::systemLog("SpringBoard: could not load " + name + ": " + (error ? error : "unknown error"));
            continue;
        }
        loaded.push_back(name);
    }
    return loaded;
}

} // namespace SpringBoardHost
