#include "host/device/DeviceLayout.h"

#include "platform/fs/ExecutablePath.h"
#include "platform/plist/PropertyList.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#ifndef KESTREL_VERSION
#define KESTREL_VERSION "0.0.0"
#endif

namespace Device {

namespace fs = std::filesystem;
using namespace Platform::Plist;

namespace {

std::string hostPath(const std::string& root, const char* devicePath) { return root + devicePath; }

std::optional<std::string> makeDirectories(const std::string& path)
{
    std::error_code error;
    fs::create_directories(path, error);
    if (error)
        return "cannot create " + path + ": " + error.message();
    return std::nullopt;
}

// Writes beside the target and renames over it, so a running program keeps
// the file it started from and a reader never sees half a file.
std::optional<std::string> writeFile(const std::string& path, std::string_view contents, mode_t mode)
{
    if (auto error = makeDirectories(fs::path(path).parent_path()))
        return error;
    std::string temporary = path + ".installing";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return "cannot write " + path + ": " + std::strerror(errno);
    size_t written = 0;
    while (written < contents.size()) {
        ssize_t count = ::write(fd, contents.data() + written, contents.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            ::close(fd);
            ::unlink(temporary.c_str());
            return "cannot write " + path + ": " + std::strerror(errno);
        }
        written += size_t(count);
    }
    ::fchmod(fd, mode);
    ::close(fd);
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return "cannot write " + path + ": " + std::strerror(errno);
    }
    return std::nullopt;
}

std::optional<std::string> readWholeFile(const std::string& path, std::string& contents)
{
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        return "missing build artifact " + path + " (build the project first)";
    std::ostringstream buffer;
    buffer << stream.rdbuf();
    contents = buffer.str();
    return std::nullopt;
}

std::optional<std::string> copyFile(const std::string& from, const std::string& to, mode_t mode)
{
    std::string contents;
    if (auto error = readWholeFile(from, contents))
        return error;
    return writeFile(to, contents, mode);
}

std::optional<std::string> copyDirectory(const std::string& from, const std::string& to)
{
    std::error_code error;
    if (!fs::is_directory(from, error))
        return std::nullopt; // not built in this configuration
    for (auto& entry : fs::directory_iterator(from, error)) {
        if (!entry.is_regular_file())
            continue;
        auto status = entry.status();
        bool executable = (status.permissions() & fs::perms::owner_exec) != fs::perms::none;
        if (auto failure = copyFile(entry.path(), to + "/" + entry.path().filename().string(), executable ? 0755 : 0644))
            return failure;
    }
    return std::nullopt;
}

std::string plistText(Dictionary dictionary) { return toXml(Value(std::move(dictionary))); }

Value stringArray(std::initializer_list<const char*> strings)
{
    Array array;
    for (auto* string : strings)
        array.push_back(Value::string(string));
    return Value(std::move(array));
}

std::string engineFilter()
{
    Dictionary filter;
    filter.set("Bundles", stringArray({ "com.apple.springboard" }));
    Dictionary root;
    root.set("Filter", Value(std::move(filter)));
    return plistText(std::move(root));
}

std::string systemVersionFile()
{
    Dictionary root;
    root.set("ProductName", Value::string("iPhone OS"));
    root.set("ProductVersion", Value::string("14.0"));
    return plistText(std::move(root));
}

// The screen the device's apps draw on: an iPhone 8's, in points and pixels per point.
std::string screenFile()
{
    Dictionary root;
    root.set("Width", Value::integer(375));
    root.set("Height", Value::integer(667));
    root.set("Scale", Value::integer(2));
    return plistText(std::move(root));
}

std::string preferenceLoaderEntry()
{
    Dictionary entry;
    entry.set("bundle", Value::string("KestrelPrefs"));
    entry.set("cell", Value::string("PSLinkCell"));
    entry.set("detail", Value::string("kestrelprefsRootListController"));
    entry.set("icon", Value::string("KestrelIcon.png"));
    entry.set("isController", Value::boolean(true));
    entry.set("label", Value::string("Kestrel"));
    Dictionary root;
    root.set("entry", Value(std::move(entry)));
    return plistText(std::move(root));
}

// The device's dpkg-query: the machine's own tool, pointed at the device's database.
std::string dpkgQueryScript()
{
    return "#!/bin/sh\n"
           "# The device's package query: the real dpkg-query reading this device's database.\n"
           "root=$(cd \"$(dirname \"$0\")/../..\" && pwd)\n"
           "exec /usr/bin/dpkg-query --admindir=\"$root/var/lib/dpkg\" \"$@\"\n";
}

std::string packageStatus()
{
    return std::string("Package: com.plover.kestrel\n"
                       "Status: install ok installed\n"
                       "Priority: optional\n"
                       "Section: Tweaks\n"
                       "Installed-Size: 412\n"
                       "Maintainer: PloverDev <dev@plover.invalid>\n"
                       "Architecture: iphoneos-arm\n"
                       "Version: ")
        + KESTREL_VERSION
        + "\n"
          "Depends: mobilesubstrate, preferenceloader\n"
          "Description: Dismiss the lock screen right after a biometric match\n"
          " Unlocks to the home screen at once, or after a delay, unless audio is\n"
          " playing, the flashlight is on, notifications wait or the screen was touched.\n"
          "Name: Kestrel\n"
          "Author: PloverDev\n\n";
}

bool isEmptyDirectory(const std::string& path)
{
    std::error_code error;
    return fs::is_directory(path, error) && fs::is_empty(path, error);
}

} // namespace

Artifacts Artifacts::nextToExecutable()
{
    fs::path bin = fs::path(Platform::executablePath()).parent_path();
    return { bin.string(), (bin.parent_path() / "lib").string() };
}

bool isDevice(const std::string& hostDirectory)
{
    struct stat info;
    return ::stat(hostPath(hostDirectory, Paths::systemVersion).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

const char* productVersion() { return KESTREL_VERSION; }

std::optional<std::string> initDevice(const std::string& root, const InitOptions& options, const Artifacts& artifacts)
{
    std::error_code error;
    if (fs::exists(root, error) && !fs::is_directory(root, error))
        return root + " is not a directory";
    if (fs::exists(root, error) && !isDevice(root) && !isEmptyDirectory(root))
        return root + " is not empty and is not a device; refusing to lay a device out in it";

    for (const char* directory : { Paths::dynamicLibraries, "/Library/PreferenceBundles", "/Library/PreferenceLoader/Preferences",
             "/usr/bin", "/var/lib/dpkg/info", "/var/lib/dpkg/updates", "/var/mobile/Library/Preferences", "/var/log",
             Paths::run }) {
        if (auto failure = makeDirectories(hostPath(root, directory)))
            return failure;
    }

    struct Install {
        std::string from;
        const char* to;
        mode_t mode;
    };
    const Install installs[] = {
        { artifacts.binDirectory + "/SpringBoard", Paths::springBoard, 0755 },
        { artifacts.binDirectory + "/killall", Paths::killall, 0755 },
        { artifacts.libDirectory + "/Kestrel.dylib", Paths::engineLibrary, 0755 },
    };
    for (auto& install : installs) {
        if (auto failure = copyFile(install.from, hostPath(root, install.to), install.mode))
            return failure;
    }
    if (auto failure = copyDirectory(artifacts.libDirectory + "/KestrelPrefs.bundle", hostPath(root, Paths::preferenceBundle)))
        return failure;

    const std::pair<const char*, std::string> generated[] = {
        { Paths::engineFilter, engineFilter() },
        { Paths::preferenceLoaderEntry, preferenceLoaderEntry() },
        { Paths::packageStatus, packageStatus() },
        { Paths::screen, screenFile() },
    };
    for (auto& [path, contents] : generated) {
        if (auto failure = writeFile(hostPath(root, path), contents, 0644))
            return failure;
    }
    if (auto failure = writeFile(hostPath(root, Paths::dpkgQuery), dpkgQueryScript(), 0755))
        return failure;
    if (auto failure = setCompanionInstalled(root, options.companion, artifacts))
        return failure;
    // Written last: from here on the directory counts as a device.
    return writeFile(hostPath(root, Paths::systemVersion), systemVersionFile(), 0644);
}

std::optional<std::string> setCompanionInstalled(const std::string& root, bool installed, const Artifacts& artifacts)
{
    std::string target = hostPath(root, Paths::companionLibrary);
    if (installed)
        return copyFile(artifacts.libDirectory + "/Nightjar.dylib", target, 0755);
    if (::unlink(target.c_str()) != 0 && errno != ENOENT)
        return "cannot remove " + target + ": " + std::strerror(errno);
    return std::nullopt;
}

} // namespace Device
