#include "host/device/DeviceLayout.h"

#include "host/device/PackageManager.h"
#include "platform/Lines.h"
#include "platform/fs/ExecutablePath.h"
#include "platform/fs/ReplaceFile.h"
#include "platform/plist/PropertyList.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace Device {

namespace fs = std::filesystem;
using namespace Platform::Plist;
using Platform::Expected;
using Platform::Failure;

namespace {

std::string hostPath(const std::string& root, const char* devicePath) { return root + devicePath; }
std::string hostPath(const std::string& root, const std::string& devicePath) { return root + devicePath; }

std::optional<mode_t> parseOctalMode(std::string_view text)
{
    if (text.empty() || text.size() > 4 || text.find_first_not_of("01234567") != std::string_view::npos)
        return std::nullopt;
    mode_t mode = 0;
    for (char digit : text)
        mode = mode * 8 + mode_t(digit - '0');
    return mode;
}

Expected<void> makeDirectories(const std::string& path)
{
    std::error_code error;
    fs::create_directories(path, error);
    if (error)
        return Failure { "cannot create " + path + ": " + error.message() };
    return {};
}

// Writes beside the target and renames over it, so a running program keeps the file it
// started from and a reader never sees half a file. A layout is made again by the next init,
// so nothing waits for the disk.
Expected<void> writeFile(const std::string& path, std::string_view contents, mode_t mode)
{
    Platform::ReplaceOptions options;
    options.mode = mode;
    options.durable = false;
    options.makeFolders = true;
    return Platform::replaceFile(path, contents, options);
}

Expected<std::string> readWholeFile(const std::string& path)
{
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        return Failure { "missing build artifact " + path + " (build the project first)" };
    std::ostringstream buffer;
    buffer << stream.rdbuf();
    return buffer.str();
}

// Writes the file only when its contents or mode differ; whether it did.
Expected<bool> updateFile(const std::string& path, std::string_view contents, mode_t mode)
{
    struct stat info;
    bool changed = true;
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 07777) == mode
        && size_t(info.st_size) == contents.size()) {
        std::ifstream stream(path, std::ios::binary);
        std::ostringstream buffer;
        buffer << stream.rdbuf();
        changed = buffer.str() != contents;
    }
    if (!changed)
        return false;
    if (auto written = writeFile(path, contents, mode); !written)
        return written.failure();
    return true;
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

// The device's dpkg-query: the machine's own tool, pointed at the device's database. It finds
// the device from its own place in it.
std::string dpkgQueryScript(Scheme scheme)
{
    std::string up;
    for ([[maybe_unused]] auto& part : fs::path(jailbreakPath(scheme, JailbreakPaths::programs)).relative_path())
        up += up.empty() ? ".." : "/..";
    return "#!/bin/sh\n"
           "# The device's package query: the real dpkg-query reading this device's database.\n"
           "root=$(cd \"$(dirname \"$0\")/"
        + up + "\" && pwd)\n" + "exec /usr/bin/dpkg-query --admindir=\"$root"
        + jailbreakPath(scheme, JailbreakPaths::packageDatabase) + "\" \"$@\"\n";
}

// A file list as dpkg keeps one: every path with the folders above it, once each, in order.
std::string withParentFolders(std::string_view listing)
{
    std::set<std::string> paths;
    for (auto line : Platform::lines(listing)) {
        if (line.empty())
            continue;
        paths.emplace(line);
        if (line.starts_with('/')) {
            for (fs::path path = fs::path(line).parent_path(); path != path.root_path(); path = path.parent_path())
                paths.insert(path.string());
        }
    }
    std::string text;
    for (auto& path : paths)
        text += path + "\n";
    return text;
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
Expected<void> writeEmptyDatabase(const std::string& database)
{
    for (const char* directory : { "/info", "/updates", "/triggers" }) {
        if (auto made = makeDirectories(database + directory); !made)
            return made;
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
        if (auto written = writeFile(database + name, contents, mode); !written)
            return written;
    }
    return {};
}

// The base system's records: every base package installed, with its files and folders
// listed, so dpkg never deletes a shared folder while one of them still lists it. Their
// checksum lists are empty: the base system's files come from the build, not from archives.
Expected<void> writeBaseRecords(const std::string& root, Scheme scheme, const std::string& firmwareVersion,
    const Artifacts& artifacts, const std::string& firmwareList)
{
    std::string records = artifacts.baseSystemDirectory(scheme);
    std::string database = hostPath(root, jailbreakPath(scheme, JailbreakPaths::packageDatabase));
    if (auto written = writeEmptyDatabase(database); !written)
        return written;
    for (const char* package : basePackages) {
        auto list = package == std::string_view(PackageNames::firmware)
            ? Expected<std::string>(firmwareList)
            : readWholeFile(records + "/" + package + ".list");
        if (!list)
            return list.failure();
        if (auto written = writeFile(database + "/info/" + package + ".list", withParentFolders(*list), 0644); !written)
            return written;
        if (auto written = writeFile(database + "/info/" + package + ".md5sums", "", 0644); !written)
            return written;
    }
    auto status = readWholeFile(records + "/status");
    if (!status)
        return status.failure();
    constexpr std::string_view placeholder = "@FIRMWARE_VERSION@";
    if (size_t at = status->find(placeholder); at != std::string::npos)
        status->replace(at, placeholder.size(), firmwareVersion);
    // Written last: a database with a status file is complete.
    return writeFile(database + "/status", *status, 0644);
}

// A device laid out before Kestrel came as a package: the pieces were copied into place
// and the database held a hand-made record. Its database and those pieces give way to
// the base system, and dpkg installs the rest again.
Expected<void> clearHandMadeInstall(const std::string& root)
{
    std::string database = hostPath(root, JailbreakPaths::packageDatabase);
    if (!fs::exists(database + "/status") || fs::exists(database + "/info/format"))
        return {};
    std::error_code error;
    for (const char* path :
        { JailbreakPaths::engineLibrary, JailbreakPaths::engineFilter, JailbreakPaths::companionLibrary,
            JailbreakPaths::preferenceBundle, JailbreakPaths::preferenceLoaderEntry, JailbreakPaths::packageStatus }) {
        fs::remove_all(hostPath(root, path), error);
        if (error)
            return Failure { "cannot clear " + hostPath(root, path) + ": " + error.message() };
    }
    return {};
}

// The firmware package's file list: the base system's fixed records, every file the build
// stages for it and the folders that hold them, in dpkg's order.
Expected<std::string> firmwareFileList(
    const Artifacts& artifacts, Scheme scheme, const std::vector<BaseSystemFile>& files)
{
    auto fixed = readWholeFile(artifacts.baseSystemDirectory(scheme) + "/firmware.list");
    if (!fixed)
        return fixed;
    for (auto& file : files)
        *fixed += "\n/" + file.path;
    return withParentFolders(*fixed);
}

// The regular files a file list names.
std::set<std::string> listedFiles(const std::string& root, const std::string& listing)
{
    std::set<std::string> files;
    for (auto line : Platform::lines(listing)) {
        std::string path(line);
        struct stat info;
        if (path.starts_with("/") && ::lstat((root + path).c_str(), &info) == 0 && S_ISREG(info.st_mode))
            files.insert(path);
    }
    return files;
}

// What laying the base system out did: whether the database was new, and the device paths of
// what was replaced, added or removed ("-PATH").
struct BaseSystemChanges {
    bool freshDatabase { false };
    std::vector<std::string> changed;
};

// Everything but the packages: folders, the base system's programs and libraries, the
// device's tools, the package database with the base system's records, and (last)
// SystemVersion.plist.
Expected<BaseSystemChanges> layBaseSystem(const std::string& root, Scheme scheme, const std::string& firmwareVersion,
    const Artifacts& artifacts, const std::vector<BaseSystemFile>& files)
{
    auto firmwareList = firmwareFileList(artifacts, scheme, files);
    if (!firmwareList)
        return firmwareList.failure();
    // The jailbreak's folders first: on a rootless device they make /var/jb, which says what
    // kind of device this is even when the layout is cut short.
    for (const char* directory : { JailbreakPaths::dynamicLibraries, JailbreakPaths::preferenceBundles,
             JailbreakPaths::preferenceLoaderEntries, JailbreakPaths::programs, JailbreakPaths::logs }) {
        if (auto made = makeDirectories(hostPath(root, jailbreakPath(scheme, directory))); !made)
            return made.failure();
    }
    for (const char* directory : { "/var/mobile/Library/Preferences", "/var/log", Paths::run }) {
        if (auto made = makeDirectories(hostPath(root, directory)); !made)
            return made.failure();
    }
    BaseSystemChanges laid;
    auto update = [&](const std::string& devicePath, std::string_view contents, mode_t mode) -> Expected<void> {
        auto replaced = updateFile(root + devicePath, contents, mode);
        if (!replaced)
            return replaced.failure();
        if (*replaced)
            laid.changed.push_back(devicePath);
        return {};
    };
    for (auto& file : files) {
        auto contents = readWholeFile(artifacts.baseSystemDirectory(scheme) + "/files/" + file.path);
        if (!contents)
            return contents.failure();
        if (auto updated = update("/" + file.path, *contents, file.mode); !updated)
            return updated.failure();
    }
    if (auto updated = update(jailbreakPath(scheme, JailbreakPaths::dpkgQuery), dpkgQueryScript(scheme), 0755);
        !updated)
        return updated.failure();
    if (auto updated = update(Paths::screen, screenFile(), 0644); !updated)
        return updated.failure();

    if (scheme == Scheme::rootful) {
        if (auto cleared = clearHandMadeInstall(root); !cleared)
            return cleared.failure();
    }
    std::string database = hostPath(root, jailbreakPath(scheme, JailbreakPaths::packageDatabase));
    laid.freshDatabase = !fs::exists(database + "/status");
    if (laid.freshDatabase) {
        if (auto written = writeBaseRecords(root, scheme, firmwareVersion, artifacts, *firmwareList); !written)
            return written.failure();
    } else {
        // Files an earlier base system had and this one has not go, as dpkg removes the files
        // an upgrade no longer brings.
        std::string listPath = database + "/info/" + PackageNames::firmware + ".list";
        if (auto earlier = fs::exists(listPath) ? readWholeFile(listPath) : Expected<std::string>(""); earlier) {
            auto now = listedFiles(root, *firmwareList);
            for (auto& path : listedFiles(root, *earlier)) {
                if (now.count(path))
                    continue;
                if (::unlink((root + path).c_str()) != 0)
                    return Failure { "cannot remove " + root + path + ": " + std::strerror(errno) };
                laid.changed.push_back("-" + path);
            }
        }
        PackageManager packages(root, scheme);
        if (auto listed = packages.setFirmwareFileList(*firmwareList); !listed)
            return listed.failure();
        if (auto recorded = packages.setFirmwareVersion(firmwareVersion); !recorded)
            return recorded.failure();
    }

    // Written last: from here on the directory counts as a device.
    if (auto updated = update(Paths::systemVersion, systemVersionFile(firmwareVersion), 0644); !updated)
        return updated.failure();
    return laid;
}

Expected<void> installBuilt(PackageManager& packages, const std::string& archive)
{
    std::error_code error;
    if (!fs::is_regular_file(archive, error))
        return Failure { "missing build artifact " + archive + " (build the project first)" };
    if (auto installed = packages.install(archive); !installed)
        return installed.failure();
    return {};
}

} // namespace

Artifacts Artifacts::nextToExecutable()
{
    fs::path bin = fs::path(Platform::executablePath()).parent_path();
    return { bin.string(), (bin.parent_path() / "lib").string(), (bin.parent_path() / "packages").string() };
}

namespace {

// The build keeps a rootless device's packages in packages/rootless.
std::string packageFile(const Artifacts& artifacts, Scheme scheme, const char* package)
{
    std::string folder = artifacts.packageDirectory;
    if (scheme != Scheme::rootful)
        folder += std::string("/") + facts(scheme).name;
    return folder + "/" + package + "_" KESTREL_VERSION "_" KESTREL_PACKAGE_ARCH ".deb";
}

} // namespace

std::string Artifacts::kestrelPackage(Scheme scheme) const { return packageFile(*this, scheme, PackageNames::kestrel); }

std::string Artifacts::companionPackage(Scheme scheme) const
{
    return packageFile(*this, scheme, PackageNames::companion);
}

std::string Artifacts::baseSystemDirectory(Scheme scheme) const
{
    return packageDirectory + "/base-system/" + facts(scheme).name;
}

std::string jailbreakHostPath(const std::string& root, const char* path)
{
    return root + jailbreakPath(schemeOf(root), path);
}

Expected<std::vector<BaseSystemFile>> readBaseSystemManifest(const Artifacts& artifacts, Scheme scheme)
{
    std::string path = artifacts.baseSystemDirectory(scheme) + "/manifest";
    auto text = readWholeFile(path);
    if (!text)
        return text.failure();
    std::vector<BaseSystemFile> files;
    for (auto line : Platform::lines(*text)) {
        if (line.empty())
            continue;
        size_t tab = line.find('\t');
        auto mode = tab == std::string_view::npos ? std::nullopt : parseOctalMode(line.substr(0, tab));
        std::string file = tab == std::string_view::npos ? std::string() : std::string(line.substr(tab + 1));
        bool plain = !file.empty() && !file.starts_with('/') && file.find('\t') == std::string::npos;
        for (auto& part : fs::path(file))
            plain = plain && part != ".." && part != ".";
        if (!mode || !plain)
            return Failure { "the build's base system manifest " + path
                + " has a malformed line (build the project again)" };
        files.push_back({ *mode, file });
    }
    return files;
}

bool isDevice(const std::string& hostDirectory)
{
    struct stat info;
    return ::stat(hostPath(hostDirectory, Paths::systemVersion).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

namespace {

// The running system's version a device records, nullopt when it holds none that reads.
std::optional<std::string> recordedSystemVersion(const std::string& root)
{
    auto file = readFile(hostPath(root, Paths::systemVersion));
    const Dictionary* dictionary = file.ok() ? file.value.asDictionary() : nullptr;
    const Value* version = dictionary ? dictionary->find("ProductVersion") : nullptr;
    if (!version || !version->asString() || version->asString()->empty())
        return std::nullopt;
    return *version->asString();
}

// "X" or "X Y" as a shell reads it: the directory as typed, quoted when it needs to be.
std::string shellWord(const std::string& word)
{
    if (!word.empty()
        && word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/._+-=:,@%")
            == std::string::npos)
        return word;
    std::string quoted = "'";
    for (char character : word)
        quoted += character == '\'' ? std::string("'\\''") : std::string(1, character);
    return quoted + "'";
}

// Nothing is changed before these refusals: what is installed is install's and remove's to change.
Expected<void> refusedPackageChange(
    PackageManager& packages, const std::string& directory, const InitOptions& options, const Artifacts& artifacts)
{
    if (options.stock) {
        auto kestrel = packages.state(PackageNames::kestrel);
        if (!kestrel)
            return kestrel.failure();
        if (*kestrel && (*kestrel)->isPresent())
            return Failure { "the device has " + std::string(PackageNames::kestrel) + " " + (*kestrel)->version
                + " installed, and init changes no package; remove it with: kestrel remove " + shellWord(directory) };
    }
    if (options.companion) {
        auto companion = packages.state(PackageNames::companion);
        if (!companion)
            return companion.failure();
        if (!*companion || !(*companion)->isPresent())
            return Failure { "the device has no " + std::string(PackageNames::companion)
                + ", and init changes no package; install it with: kestrel install " + shellWord(directory) + " "
                + shellWord(artifacts.companionPackage(packages.scheme())) };
    }
    return {};
}

// What an existing device keeps, as its line says it: the packages beyond the base system.
Expected<std::string> keptPackages(PackageManager& packages)
{
    auto installed = packages.installedPackages();
    if (!installed)
        return installed.failure();
    std::string kept;
    for (auto& [name, version] : *installed) {
        if (std::find(std::begin(basePackages), std::end(basePackages), name) == std::end(basePackages))
            kept += (kept.empty() ? "" : ", ") + name + " " + version;
    }
    return kept.empty() ? "kept the device's packages (no tweak is installed)" : "kept " + kept;
}

std::string baseSystemChanges(const std::vector<std::string>& changed)
{
    if (changed.empty())
        return "base system up to date";
    std::string replaced, removed;
    for (auto& path : changed) {
        auto& list = path.starts_with('-') ? removed : replaced;
        list += (list.empty() ? "" : ", ") + fs::path(path).filename().string();
    }
    std::string text = "brought the base system up to date (";
    if (!replaced.empty())
        text += "replaced " + replaced;
    if (!removed.empty())
        text += (replaced.empty() ? "" : "; ") + std::string("removed ") + removed;
    return text + ")";
}

// The scheme a device at root gets: an existing device's own (or one whose layout was cut
// short), which asking for the other cannot change.
Expected<Scheme> chosenScheme(
    const std::string& directory, const std::string& root, bool existing, const InitOptions& options)
{
    bool begun = existing || !fs::is_empty(root);
    Scheme scheme = begun ? schemeOf(root) : options.scheme.value_or(Scheme::rootful);
    if (!options.scheme || *options.scheme == scheme)
        return scheme;
    std::string kind = std::string(facts(scheme).name) + " device";
    std::string asked = facts(*options.scheme).name;
    if (!existing)
        return Failure { directory + " holds the start of a " + kind + "'s layout, not a " + asked
            + " one; finish it with: kestrel init " + shellWord(directory) };
    return Failure { directory + " is a " + kind + ", and a device keeps the kind it was laid out as; lay out a "
        + asked + " device in an empty folder" };
}

} // namespace

Expected<std::string> initDevice(const std::string& directory, const InitOptions& options, const Artifacts& artifacts)
{
    std::error_code error;
    if (fs::exists(directory, error) && !fs::is_directory(directory, error))
        return Failure { directory + " is not a directory" };
    bool existing = isDevice(directory);
    if (fs::exists(directory, error) && !existing && !isEmptyOrUnfinishedDevice(directory))
        return Failure { directory + " is not empty and is not a device; refusing to lay a device out in it" };
    if (auto made = makeDirectories(directory); !made)
        return made.failure();
    // dpkg wants the device's root as an absolute path.
    std::string root = fs::canonical(directory, error).string();
    if (error)
        return Failure { "cannot find " + directory + ": " + error.message() };
    auto scheme = chosenScheme(directory, root, existing, options);
    if (!scheme)
        return scheme.failure();
    Platform::SystemVersion asked;
    if (options.firmwareVersion && Platform::parseSystemVersion(*options.firmwareVersion, asked)) {
        if (auto runs = runsSystem(*scheme, asked); !runs)
            return runs.failure();
    }
    auto files = readBaseSystemManifest(artifacts, *scheme);
    if (!files)
        return files.failure();

    PackageManager packages(root, *scheme);
    std::string database = hostPath(root, jailbreakPath(*scheme, JailbreakPaths::packageDatabase));
    bool hasDatabase = fs::exists(database + "/status") && fs::exists(database + "/info/format");
    if (existing && hasDatabase) {
        if (auto allowed = refusedPackageChange(packages, directory, options, artifacts); !allowed)
            return allowed.failure();
    }

    std::string fallback = facts(*scheme).defaultSystem;
    std::string version
        = options.firmwareVersion.value_or(existing ? recordedSystemVersion(root).value_or(fallback) : fallback);
    auto laid = layBaseSystem(root, *scheme, version, artifacts, *files);
    if (!laid)
        return laid.failure();

    if (laid->freshDatabase) {
        if (!options.stock) {
            if (auto installed = installBuilt(packages, artifacts.kestrelPackage(*scheme)); !installed)
                return installed.failure();
        }
        if (options.companion) {
            if (auto installed = installBuilt(packages, artifacts.companionPackage(*scheme)); !installed)
                return installed.failure();
        }
        return "device ready at " + root;
    }

    // What a killed dpkg run left is finished, as the next dpkg command would.
    auto repaired = packages.finishInterruptedWork();
    if (!repaired)
        return repaired.failure();
    auto kept = keptPackages(packages);
    if (!kept)
        return kept.failure();
    return *repaired + *kept + "; " + baseSystemChanges(laid->changed);
}

Expected<void> setCompanionInstalled(const std::string& root, bool installed, const Artifacts& artifacts)
{
    PackageManager packages(root);
    if (installed)
        return installBuilt(packages, artifacts.companionPackage(schemeOf(root)));
    if (auto removed = packages.remove(PackageNames::companion, true); !removed)
        return removed.failure();
    return {};
}

} // namespace Device
