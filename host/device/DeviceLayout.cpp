#include "host/device/DeviceLayout.h"

#include "host/device/PackageManager.h"
#include "platform/fs/ExecutablePath.h"
#include "platform/plist/PropertyList.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

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

std::string plistText(Dictionary dictionary) { return toXml(Value(std::move(dictionary))); }

std::string systemVersionFile(const std::string& version)
{
    Dictionary root;
    root.set("ProductName", Value::string("iPhone OS"));
    root.set("ProductVersion", Value::string(version));
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

// The device's dpkg-query: the machine's own tool, pointed at the device's database.
std::string dpkgQueryScript()
{
    return "#!/bin/sh\n"
           "# The device's package query: the real dpkg-query reading this device's database.\n"
           "root=$(cd \"$(dirname \"$0\")/../..\" && pwd)\n"
           "exec /usr/bin/dpkg-query --admindir=\"$root/var/lib/dpkg\" \"$@\"\n";
}

// Empty, or holding nothing but a device's top folders: a layout that was cut short.
bool isEmptyOrUnfinishedDevice(const std::string& path)
{
    std::error_code error;
    for (auto& entry : fs::directory_iterator(path, error)) {
        auto name = entry.path().filename().string();
        if (!entry.is_directory() || (name != "Library" && name != "System" && name != "usr" && name != "var"))
            return false;
    }
    return !error;
}

// The packages a jailbroken phone has before any tweak.
constexpr const char* basePackages[] = { "firmware", "mobilesubstrate", "preferenceloader" };

// The files dpkg keeps beside its records, as dpkg itself would have made them, so that
// no later dpkg run adds any.
std::optional<std::string> writeEmptyDatabase(const std::string& database)
{
    for (const char* directory : { "/info", "/updates", "/triggers" }) {
        if (auto failure = makeDirectories(database + directory))
            return failure;
    }
    const std::tuple<const char*, const char*, mode_t> files[] = {
        { "/info/format", "1\n", 0644 },
        { "/available", "", 0644 },
        { "/lock", "", 0640 },
        { "/lock-frontend", "", 0640 },
        { "/triggers/Lock", "", 0644 },
        { "/triggers/Unincorp", "", 0644 },
    };
    for (auto& [name, contents, mode] : files) {
        if (auto failure = writeFile(database + name, contents, mode))
            return failure;
    }
    return std::nullopt;
}

// The base system's records: every base package installed, with its files and folders
// listed, so dpkg never deletes a shared folder while one of them still lists it. Their
// checksum lists are empty: the base system's files come from the build, not from archives.
std::optional<std::string> writeBaseRecords(const std::string& root, const InitOptions& options, const Artifacts& artifacts)
{
    std::string database = hostPath(root, Paths::packageDatabase);
    if (auto failure = writeEmptyDatabase(database))
        return failure;
    std::string records;
    for (const char* package : basePackages) {
        if (auto failure = readWholeFile(artifacts.baseSystemDirectory() + "/" + package + ".list", records))
            return failure;
        if (auto failure = writeFile(database + "/info/" + package + ".list", records, 0644))
            return failure;
        if (auto failure = writeFile(database + "/info/" + package + ".md5sums", "", 0644))
            return failure;
    }
    if (auto failure = readWholeFile(artifacts.baseSystemDirectory() + "/status", records))
        return failure;
    constexpr std::string_view placeholder = "@FIRMWARE_VERSION@";
    if (size_t at = records.find(placeholder); at != std::string::npos)
        records.replace(at, placeholder.size(), options.firmwareVersion);
    // Written last: a database with a status file is complete.
    return writeFile(database + "/status", records, 0644);
}

// A device laid out before Kestrel came as a package: the pieces were copied into place
// and the database held a hand-made record. Its database and those pieces give way to
// the base system, and dpkg installs the rest again.
std::optional<std::string> clearHandMadeInstall(const std::string& root)
{
    std::string database = hostPath(root, Paths::packageDatabase);
    if (!fs::exists(database + "/status") || fs::exists(database + "/info/format"))
        return std::nullopt;
    std::error_code error;
    for (const char* path : { Paths::engineLibrary, Paths::engineFilter, Paths::companionLibrary, Paths::preferenceBundle,
             Paths::preferenceLoaderEntry, Paths::packageStatus }) {
        fs::remove_all(hostPath(root, path), error);
        if (error)
            return "cannot clear " + hostPath(root, path) + ": " + error.message();
    }
    return std::nullopt;
}

// Everything but the packages: folders, host programs, the device's tools, the package
// database with the base system's records, and (last) SystemVersion.plist.
std::optional<std::string> layBaseSystem(const std::string& root, const InitOptions& options, const Artifacts& artifacts, bool& freshDatabase)
{
    for (const char* directory : { Paths::dynamicLibraries, "/Library/PreferenceBundles", "/Library/PreferenceLoader/Preferences",
             "/usr/bin", "/var/mobile/Library/Preferences", "/var/log", Paths::run }) {
        if (auto failure = makeDirectories(hostPath(root, directory)))
            return failure;
    }
    if (auto failure = copyFile(artifacts.binDirectory + "/SpringBoard", hostPath(root, Paths::springBoard), 0755))
        return failure;
    if (auto failure = copyFile(artifacts.binDirectory + "/killall", hostPath(root, Paths::killall), 0755))
        return failure;
    if (auto failure = writeFile(hostPath(root, Paths::dpkgQuery), dpkgQueryScript(), 0755))
        return failure;
    if (auto failure = writeFile(hostPath(root, Paths::screen), screenFile(), 0644))
        return failure;

    if (auto failure = clearHandMadeInstall(root))
        return failure;
    freshDatabase = !fs::exists(hostPath(root, Paths::packageStatus));
    if (freshDatabase) {
        if (auto failure = writeBaseRecords(root, options, artifacts))
            return failure;
    } else if (auto failure = PackageManager(root).setFirmwareVersion(options.firmwareVersion))
        return failure;

    // Written last: from here on the directory counts as a device.
    return writeFile(hostPath(root, Paths::systemVersion), systemVersionFile(options.firmwareVersion), 0644);
}

std::optional<std::string> installBuilt(PackageManager& packages, const std::string& archive)
{
    std::error_code error;
    if (!fs::is_regular_file(archive, error))
        return "missing build artifact " + archive + " (build the project first)";
    if (auto result = packages.install(archive); !result.ok)
        return result.message;
    return std::nullopt;
}

} // namespace

Artifacts Artifacts::nextToExecutable()
{
    fs::path bin = fs::path(Platform::executablePath()).parent_path();
    return { bin.string(), (bin.parent_path() / "lib").string(), (bin.parent_path() / "packages").string() };
}

std::string Artifacts::kestrelPackage() const
{
    return packageDirectory + "/" + PackageNames::kestrel + "_" KESTREL_VERSION "_" KESTREL_PACKAGE_ARCH ".deb";
}

std::string Artifacts::companionPackage() const
{
    return packageDirectory + "/" + PackageNames::companion + "_" KESTREL_VERSION "_" KESTREL_PACKAGE_ARCH ".deb";
}

std::string Artifacts::baseSystemDirectory() const { return packageDirectory + "/base-system"; }

bool isDevice(const std::string& hostDirectory)
{
    struct stat info;
    return ::stat(hostPath(hostDirectory, Paths::systemVersion).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::optional<std::string> initDevice(const std::string& directory, const InitOptions& options, const Artifacts& artifacts)
{
    std::error_code error;
    if (fs::exists(directory, error) && !fs::is_directory(directory, error))
        return directory + " is not a directory";
    if (fs::exists(directory, error) && !isDevice(directory) && !isEmptyOrUnfinishedDevice(directory))
        return directory + " is not empty and is not a device; refusing to lay a device out in it";
    if (auto failure = makeDirectories(directory))
        return failure;
    // dpkg wants the device's root as an absolute path.
    std::string root = fs::canonical(directory, error).string();
    if (error)
        return "cannot find " + directory + ": " + error.message();

    bool freshDatabase = false;
    if (auto failure = layBaseSystem(root, options, artifacts, freshDatabase))
        return failure;
    PackageManager packages(root);
    if (!options.stock) {
        if (auto failure = installBuilt(packages, artifacts.kestrelPackage()))
            return failure;
    } else if (!freshDatabase) {
        if (auto result = packages.remove(PackageNames::kestrel, false); !result.ok)
            return result.message;
    }
    if (freshDatabase && !options.companion)
        return std::nullopt;
    return setCompanionInstalled(root, options.companion, artifacts);
}

std::optional<std::string> setCompanionInstalled(const std::string& root, bool installed, const Artifacts& artifacts)
{
    PackageManager packages(root);
    if (installed)
        return installBuilt(packages, artifacts.companionPackage());
    if (auto result = packages.remove(PackageNames::companion, true); !result.ok)
        return result.message;
    return std::nullopt;
}

} // namespace Device
