#include "host/device/PackageManager.h"

#include "host/device/DebianVersion.h"
#include "host/device/DeviceLayout.h"
#include "host/device/ToolRun.h"
#include "platform/process/DeviceProcesses.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace Device {

namespace {

constexpr const char* dpkgProgram = "/usr/bin/dpkg";
constexpr const char* dpkgDebProgram = "/usr/bin/dpkg-deb";
constexpr const char* dpkgQueryProgram = "/usr/bin/dpkg-query";
constexpr auto lockPatience = std::chrono::seconds(5);
constexpr int journalFoldThreshold = 16;

std::string_view trimmed(std::string_view text)
{
    size_t first = text.find_first_not_of(" \t\n");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\n") - first + 1);
}

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> pieces;
    while (true) {
        size_t end = text.find(separator);
        pieces.push_back(text.substr(0, end));
        if (end == std::string_view::npos)
            return pieces;
        text.remove_prefix(end + 1);
    }
}

// One alternative of a dependency: "firmware (>= 10.0)", "foo:any", "bar".
struct Relation {
    std::string package;
    std::string relation; // <<, <=, =, >=, >>; empty for any version
    std::string version;
};

Relation parseRelation(std::string_view text)
{
    text = trimmed(text);
    Relation parsed;
    size_t nameEnd = text.find_first_of(" (:[<");
    parsed.package = std::string(text.substr(0, nameEnd));
    size_t open = text.find('(');
    size_t close = text.find(')', open);
    if (open != std::string_view::npos && close != std::string_view::npos) {
        auto inside = trimmed(text.substr(open + 1, close - open - 1));
        size_t operatorEnd = inside.find_first_not_of("<>=");
        parsed.relation = std::string(inside.substr(0, operatorEnd));
        parsed.version = std::string(trimmed(inside.substr(std::min(operatorEnd, inside.size()))));
    }
    return parsed;
}

// dpkg's rule for package names.
bool isPackageName(const std::string& name)
{
    if (name.size() < 2 || !std::isalnum(static_cast<unsigned char>(name[0])))
        return false;
    for (char c : name) {
        if (!(std::islower(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)) || c == '+'
                || c == '-' || c == '.'))
            return false;
    }
    return true;
}

// Upstream versions as a system reports them: "14.0", "12.4.1", "13.0b2".
bool isFirmwareVersion(const std::string& version)
{
    if (version.empty() || version.size() > 64 || !std::isdigit(static_cast<unsigned char>(version[0])))
        return false;
    for (char c : version) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '+' && c != '~' && c != '-')
            return false;
    }
    return true;
}

std::optional<std::string> writeDurably(const std::string& path, const std::string& contents)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return "cannot write " + path + ": " + std::strerror(errno);
    bool written = ::write(fd, contents.data(), contents.size()) == ssize_t(contents.size()) && !::fsync(fd);
    int error = errno;
    ::close(fd);
    if (!written)
        return "cannot write " + path + ": " + std::strerror(error);
    return std::nullopt;
}

// dpkg's own locks on its database, taken as dpkg takes them.
class DatabaseLock {
public:
    explicit DatabaseLock(const std::string& adminDirectory)
    {
        auto deadline = std::chrono::steady_clock::now() + lockPatience;
        for (const char* name : { "lock-frontend", "lock" }) {
            std::string path = adminDirectory + "/" + name;
            int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0640);
            if (fd < 0) {
                m_error = "cannot open " + path + ": " + std::strerror(errno);
                return;
            }
            m_descriptors.push_back(fd);
            struct flock lock { };
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            while (::fcntl(fd, F_SETLK, &lock) < 0) {
                if ((errno != EACCES && errno != EAGAIN) || std::chrono::steady_clock::now() > deadline) {
                    struct flock holder { };
                    holder.l_type = F_WRLCK;
                    holder.l_whence = SEEK_SET;
                    m_error = ::fcntl(fd, F_GETLK, &holder) == 0 && holder.l_type != F_UNLCK
                        ? busyDatabaseReason(std::to_string(holder.l_pid))
                        : busyDatabaseReason({});
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
    }
    ~DatabaseLock()
    {
        for (auto it = m_descriptors.rbegin(); it != m_descriptors.rend(); ++it)
            ::close(*it);
    }
    DatabaseLock(const DatabaseLock&) = delete;
    DatabaseLock& operator=(const DatabaseLock&) = delete;

    const std::optional<std::string>& error() const { return m_error; }

private:
    std::vector<int> m_descriptors;
    std::optional<std::string> m_error;
};

// The number dpkg's next journal entry takes: one past the highest in updates/.
std::optional<int> nextJournalEntry(const std::string& updates)
{
    DIR* directory = ::opendir(updates.c_str());
    if (!directory)
        return std::nullopt;
    int next = 0;
    while (auto* entry = ::readdir(directory)) {
        std::string_view name = entry->d_name;
        if (name.empty() || name.size() > 9 || name.find_first_not_of("0123456789") != std::string_view::npos)
            continue;
        next = std::max(next, std::stoi(std::string(name)) + 1);
    }
    ::closedir(directory);
    return next;
}

bool isHalfInstalled(const PackageState& state) { return state.needsReinstall || state.status == "half-installed"; }

// This build's archive of the package for devices of the scheme, if it makes one.
std::optional<std::string> builtArchive(const std::string& package, Scheme scheme)
{
    auto artifacts = Artifacts::nextToExecutable();
    std::string archive;
    if (package == PackageNames::kestrel)
        archive = artifacts.kestrelPackage(scheme);
    else if (package == PackageNames::companion)
        archive = artifacts.companionPackage(scheme);
    struct stat info;
    if (archive.empty() || ::stat(archive.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return archive;
}

// The paths of a package's files as `dpkg-deb --contents` lists them, tar's long listing:
// mode, owner, size, date, time, then the path (and " -> target" for a symbolic link).
std::vector<std::string> listedPaths(std::string_view listing)
{
    constexpr auto none = std::string_view::npos;
    std::vector<std::string> paths;
    for (auto line : split(listing, '\n')) {
        std::string_view rest = line;
        for (int field = 0; field < 5 && !rest.empty(); ++field) {
            size_t start = rest.find_first_not_of(' ');
            size_t end = start == none ? none : rest.find(' ', start);
            rest = end == none ? std::string_view() : rest.substr(end);
        }
        size_t start = rest.find_first_not_of(' ');
        if (start == none)
            continue;
        rest.remove_prefix(start);
        if (line.starts_with('l'))
            rest = rest.substr(0, rest.find(" -> "));
        else if (line.starts_with('h'))
            rest = rest.substr(0, rest.find(" link to "));
        paths.emplace_back(rest);
    }
    return paths;
}

} // namespace

PackageManager::PackageManager(std::string deviceRoot)
    : PackageManager(deviceRoot, schemeOf(deviceRoot))
{
}

PackageManager::PackageManager(std::string deviceRoot, Scheme scheme)
    : m_root(std::move(deviceRoot))
    , m_scheme(scheme)
    , m_adminDirectory(m_root + jailbreakPath(m_scheme, JailbreakPaths::packageDatabase))
{
}

std::vector<std::string> PackageManager::dpkgCommand(std::initializer_list<std::string> arguments, bool logged) const
{
    std::vector<std::string> command {
        dpkgProgram,
        "--root=" + m_root,
        "--admindir=" + m_adminDirectory,
        "--log="
            + (logged ? m_root + jailbreakPath(m_scheme, JailbreakPaths::logs) + "/dpkg.log" : std::string("/dev/null")),
        // Run as root or not, dpkg acts on the device alone: no chroot, and ownership it
        // cannot set is no error.
        "--force-not-root",
        "--force-script-chrootless",
        // Nobody answers questions about changed configuration files: keep the device's.
        "--force-confdef",
        "--force-confold",
    };
    command.insert(command.end(), arguments.begin(), arguments.end());
    return command;
}

std::vector<std::string> PackageManager::queryCommand() const
{
    // One line a package: name, wanted, error flag, status, version, provides.
    return { dpkgQueryProgram, "--admindir=" + m_adminDirectory, "--show",
        "--showformat=${Package}\\t${db:Status-Want}\\t${db:Status-Eflag}\\t${db:Status-Status}"
        "\\t${Version}\\t${Provides}\\n" };
}

PackageManager::Packages PackageManager::parsePackages(const std::string& listing)
{
    Packages found;
    for (auto line : split(listing, '\n')) {
        auto fields = split(line, '\t');
        if (fields.size() != 6 || fields[0].empty() || fields[3] == "not-installed")
            continue;
        found[std::string(fields[0])] = { std::string(fields[1]), std::string(fields[3]), fields[2] == "reinstreq",
            std::string(fields[4]), std::string(fields[5]) };
    }
    return found;
}

PackageManager::Packages PackageManager::packages()
{
    auto listing = runTool(queryCommand());
    if (!listing.succeeded())
        throw std::runtime_error("cannot read the device's package database: " + failureReason(listing));
    return parsePackages(listing.output);
}

std::optional<std::string> PackageManager::databaseProblem() const
{
    struct stat info;
    for (const char* record : { "/status", "/info/format" }) {
        if (::stat((m_adminDirectory + record).c_str(), &info) != 0)
            return "the device has no package database (bring it up to date with: kestrel init " + m_root + ")";
    }
    return std::nullopt;
}

std::optional<PackageState> PackageManager::state(const std::string& package)
{
    auto all = packages();
    auto found = all.find(package);
    if (found == all.end())
        return std::nullopt;
    return found->second;
}

std::optional<std::string> PackageManager::installedVersion(const std::string& package)
{
    auto found = state(package);
    if (!found || found->status != "installed")
        return std::nullopt;
    return found->version;
}

// A package whose unpack was cut short has files on the device that dpkg never listed, and
// removing it would leave them behind, still loaded by SpringBoard. When this build has the
// package's archive, it is unpacked again in full first, so dpkg knows every file it owns.
// Returns a note when it did so.
std::string PackageManager::completeHalfInstalled(const std::string& package, const PackageState& state)
{
    if (!isHalfInstalled(state))
        return {};
    auto archive = builtArchive(package, m_scheme);
    if (!archive || !runTool(dpkgCommand({ "--unpack", *archive })).succeeded())
        return {};
    return "unpacked " + package + " again from " + *archive + " to finish what an interrupted dpkg run began; ";
}

// What a dpkg run that was killed left behind: packages half unpacked are removed (their
// archive is gone; `except`, about to be installed or removed, is left to that command), and
// packages unpacked but not configured are configured. Returns a note when it did anything,
// and then brings `packages` up to date; `failure` gets why when configuring failed.
std::string PackageManager::finishInterruptedRuns(
    const std::string& except, Packages& packages, std::optional<std::string>& failure)
{
    std::string note;
    for (auto& [name, state] : packages) {
        if (name == except || !isHalfInstalled(state))
            continue;
        note += completeHalfInstalled(name, state);
        auto run = runTool(
            dpkgCommand({ state.want == "purge" ? "--purge" : "--remove", "--force-remove-reinstreq", name }));
        if (run.succeeded())
            note += "removed " + name + ", which an interrupted dpkg run left half-installed; ";
        else
            note += "could not remove " + name + ", which an interrupted dpkg run left half-installed ("
                + failureReason(run) + "); ";
    }
    if (!note.empty())
        packages = this->packages();
    bool unconfigured = std::any_of(packages.begin(), packages.end(), [](auto& entry) {
        auto& status = entry.second.status;
        return status == "unpacked" || status == "half-configured" || status.starts_with("triggers-");
    });
    if (unconfigured) {
        auto run = runTool(dpkgCommand({ "--configure", "--pending" }));
        if (!run.succeeded()) {
            failure = note + "cannot finish configuring what an interrupted dpkg run had unpacked: " + failureReason(run);
            return note;
        }
        note += "finished configuring what an interrupted dpkg run had unpacked; ";
        packages = this->packages();
    }
    return note;
}

std::string PackageManager::finishInterruptedWork()
{
    if (auto problem = databaseProblem())
        throw std::runtime_error(*problem);
    auto all = packages();
    std::optional<std::string> failure;
    std::string note = finishInterruptedRuns({}, all, failure);
    if (failure)
        throw std::runtime_error(*failure);
    return note;
}

std::vector<std::pair<std::string, std::string>> PackageManager::installedPackages()
{
    std::vector<std::pair<std::string, std::string>> installed;
    for (auto& [name, state] : packages()) {
        if (state.status == "installed")
            installed.emplace_back(name, state.version);
    }
    return installed;
}

std::optional<std::string> PackageManager::unmetDependencies(
    const std::string& package, const std::string& relations, Packages installed)
{
    std::erase_if(installed, [](auto& entry) { return entry.second.status != "installed"; });
    for (auto group : split(relations, ',')) {
        if (trimmed(group).empty())
            continue;
        auto alternatives = split(group, '|');
        std::string found;
        bool met = false;
        for (auto alternative : alternatives) {
            auto wanted = parseRelation(alternative);
            if (auto it = installed.find(wanted.package); it != installed.end()) {
                met = wanted.relation.empty() || versionSatisfies(it->second.version, wanted.relation, wanted.version);
                if (!met)
                    found = wanted.package + " " + it->second.version + " is installed";
            }
            for (auto& [name, state] : installed) {
                for (auto provided : split(state.provides, ',')) {
                    auto offer = parseRelation(provided);
                    if (!met && offer.package == wanted.package && !offer.package.empty())
                        met = wanted.relation.empty()
                            || (offer.relation == "="
                                && versionSatisfies(offer.version, wanted.relation, wanted.version));
                }
            }
            if (met)
                break;
        }
        if (met)
            continue;
        std::string why = !found.empty() ? found
            : alternatives.size() > 1    ? "none of them is installed"
                                         : parseRelation(alternatives[0]).package + " is not installed";
        return package + " depends on " + std::string(trimmed(group)) + ", but " + why;
    }
    return std::nullopt;
}

PackageResult PackageManager::install(const std::string& archivePath)
{
    auto refuse = [&](const std::string& reason) {
        return PackageResult { false, "cannot install " + archivePath + ": " + reason };
    };
    if (auto problem = databaseProblem())
        return refuse(*problem);
    try {
        return installArchive(archivePath, refuse);
    } catch (const std::runtime_error& error) {
        return refuse(error.what());
    }
}

PackageResult PackageManager::installArchive(const std::string& archivePath, const Refusal& refuse)
{
    struct stat info;
    if (::stat(archivePath.c_str(), &info) != 0)
        return refuse(std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        return refuse("not a package file");
    char resolved[PATH_MAX];
    if (!::realpath(archivePath.c_str(), resolved))
        return refuse(std::strerror(errno));
    std::string archive = resolved;

    // Everything that can refuse the package runs before anything is changed, and at once.
    // dpkg itself would unpack a package whose dependencies are missing and leave it half
    // set up, and would find a damaged file tree only half-way through unpacking it.
    ToolOptions discard;
    discard.discardStandardOutput = true;
    auto fieldsRun = ToolRun::start(
        { dpkgDebProgram, "--show", "--showformat=${Package}\\t${Version}\\t${Pre-Depends}, ${Depends}", archive });
    auto treeRun = ToolRun::start({ dpkgDebProgram, "--fsys-tarfile", archive }, discard);
    auto contentsRun = ToolRun::start({ dpkgDebProgram, "--contents", archive });
    // dpkg's own checks (architecture, conflicts, pre-dependencies), writing nothing, not even its log.
    auto checkRun = ToolRun::start(dpkgCommand({ "--no-act", "--install", archive }, false));
    auto queryRun = ToolRun::start(queryCommand());
    auto fields = fieldsRun.finish();
    auto tree = treeRun.finish();
    auto contents = contentsRun.finish();
    auto check = checkRun.finish();
    auto query = queryRun.finish();
    if (!query.succeeded())
        return refuse("cannot read the device's package database: " + failureReason(query));
    auto installed = parsePackages(query.output);
    for (auto* run : { &fields, &tree, &contents }) {
        if (!run->succeeded())
            return refuse(failureReason(*run));
    }
    // A package built for the other kind of jailbreak would put its files where nothing on
    // this device looks for them.
    if (auto mismatch = packageSchemeMismatch(m_scheme, listedPaths(contents.output)))
        return refuse(*mismatch);
    if (!check.succeeded())
        return refuse(failureReason(check));
    auto values = split(fields.output, '\t');
    if (values.size() != 3)
        return refuse("its control record cannot be read");
    std::string package(values[0]), version(values[1]), relations(values[2]);
    std::replace(relations.begin(), relations.end(), '\n', ' ');

    std::optional<std::string> failure;
    std::string note = finishInterruptedRuns(package, installed, failure);
    if (failure)
        return refuse(*failure);
    if (auto unmet = unmetDependencies(package, relations, installed))
        return refuse(note + *unmet);

    std::optional<std::string> before;
    if (auto found = installed.find(package); found != installed.end() && found->second.status == "installed")
        before = found->second.version;
    auto run = runTool(dpkgCommand({ "--install", archive }));
    if (!run.succeeded())
        return refuse(note + failureReason(run));

    std::string done = "installed " + package + " " + version;
    if (before && compareVersions(*before, version) == 0)
        done = "reinstalled " + package + " " + version;
    else if (before)
        done = (compareVersions(version, *before) > 0 ? "upgraded " : "downgraded ") + package + " " + *before + " to "
            + version;
    PackageResult result { true, note + done };
    result.changedWhatLoads = true;
    result.restartedSpringBoard = restartIfBooted();
    if (result.restartedSpringBoard)
        result.message += "; restarted SpringBoard";
    return result;
}

PackageResult PackageManager::remove(const std::string& package, bool purge)
{
    std::string verb = purge ? "purge" : "remove";
    if (!isPackageName(package))
        return { false, "cannot " + verb + " " + package + ": not a package name" };
    if (auto problem = databaseProblem())
        return { false, "cannot " + verb + " " + package + ": " + *problem };
    try {
        return removePackage(package, purge);
    } catch (const std::runtime_error& error) {
        return { false, "cannot " + verb + " " + package + ": " + error.what() };
    }
}

PackageResult PackageManager::removePackage(const std::string& package, bool purge)
{
    std::string verb = purge ? "purge" : "remove";
    auto all = packages();
    std::optional<std::string> failure;
    std::string note = finishInterruptedRuns(package, all, failure);
    if (failure)
        return { false, "cannot " + verb + " " + package + ": " + *failure };
    if (auto found = all.find(package); found != all.end()) {
        if (auto completed = completeHalfInstalled(package, found->second); !completed.empty()) {
            note += completed;
            all = packages();
        }
    }
    auto found = all.find(package);
    std::optional<PackageState> before;
    if (found != all.end())
        before = found->second;
    if (!before)
        return { true, note + package + " is not installed; nothing to " + verb };
    if (before->status == "config-files" && !purge)
        return { true, note + package + " is already removed; its settings are kept (purge deletes them)" };

    // A package others depend on is refused by dpkg's own check, which writes nothing;
    // the real run would note its refusal in the database and the log.
    const char* action = purge ? "--purge" : "--remove";
    auto check = runTool(dpkgCommand({ "--no-act", action, "--force-remove-reinstreq", package }, false));
    if (!check.succeeded())
        return { false, note + "cannot " + verb + " " + package + ": " + failureReason(check) };
    auto run = runTool(dpkgCommand({ action, "--force-remove-reinstreq", package }));
    if (!run.succeeded())
        return { false, note + "cannot " + verb + " " + package + ": " + failureReason(run) };

    auto after = state(package);
    std::string done = (purge ? "purged " : "removed ") + package + " " + before->version;
    if (after && after->status == "config-files")
        done += "; its settings are kept (purge deletes them)";
    else if (purge && before->status == "config-files")
        done = "purged the settings that " + package + " " + before->version + " left behind";
    PackageResult result { true, note + done };
    // A package only dpkg's records still knew of was not loaded anywhere.
    result.changedWhatLoads = before->status != "config-files";
    result.restartedSpringBoard = result.changedWhatLoads && restartIfBooted();
    if (result.restartedSpringBoard)
        result.message += "; restarted SpringBoard";
    return result;
}

// Writes the changed record as dpkg's next journal entry and gives that entry's number
// (-1 when the record already held the version).
std::optional<std::string> PackageManager::recordFirmwareVersion(const std::string& version, int& entry)
{
    if (!isFirmwareVersion(version))
        return "bad firmware version \"" + version + "\"";
    DatabaseLock lock(m_adminDirectory);
    if (lock.error())
        return lock.error();
    // Read under the lock: the record as dpkg has it, its journal included.
    auto record = runTool({ dpkgQueryProgram, "--admindir=" + m_adminDirectory, "--status", PackageNames::firmware });
    size_t line = record.output.starts_with("Version: ") ? 0 : record.output.find("\nVersion: ");
    if (!record.succeeded() || line == std::string::npos)
        return "the device's package database has no firmware package";
    line += record.output[line] == '\n';
    size_t end = record.output.find('\n', line);
    entry = -1;
    if (record.output.compare(line, end - line, "Version: " + version) == 0)
        return std::nullopt;
    std::string changed = record.output.substr(0, line) + "Version: " + version + record.output.substr(end);

    // An entry in dpkg's journal: dpkg and dpkg-query read it over the status file, and
    // dpkg folds it in at its next run, as it does with its own.
    std::string updates = m_adminDirectory + "/updates";
    auto next = nextJournalEntry(updates);
    if (!next)
        return "cannot read " + updates + ": " + std::strerror(errno);
    entry = *next;
    char name[16];
    std::snprintf(name, sizeof(name), "/%04d", entry);
    if (auto error = writeDurably(updates + "/tmp.i", changed))
        return error;
    if (::rename((updates + "/tmp.i").c_str(), (updates + name).c_str()) != 0)
        return "cannot write " + updates + name + ": " + std::strerror(errno);
    if (int directory = ::open(updates.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); directory >= 0) {
        ::fsync(directory);
        ::close(directory);
    }
    return std::nullopt;
}

std::optional<std::string> PackageManager::setFirmwareVersion(const std::string& version)
{
    int entry = -1;
    if (auto error = recordFirmwareVersion(version, entry))
        return error;
    // Many boots and no dpkg run in between: let dpkg fold the journal into its status file.
    if (entry >= journalFoldThreshold) {
        if (auto run = runTool(dpkgCommand({ "--configure", "--pending" })); !run.succeeded())
            return "the firmware's version is recorded, but dpkg could not fold its journal in: " + failureReason(run);
    }
    return std::nullopt;
}

std::optional<std::string> PackageManager::setFirmwareFileList(const std::string& listing)
{
    DatabaseLock lock(m_adminDirectory);
    if (lock.error())
        return lock.error();
    std::string path = m_adminDirectory + "/info/" + PackageNames::firmware + ".list";
    if (auto error = writeDurably(path + ".new", listing))
        return error;
    if (::rename((path + ".new").c_str(), path.c_str()) != 0)
        return "cannot write " + path + ": " + std::strerror(errno);
    return std::nullopt;
}

bool PackageManager::restartIfBooted() { return m_restartsSpringBoard && restartSpringBoard(m_root); }

bool isBooted(const std::string& deviceRoot) { return Platform::isRunningOnDevice(deviceRoot, Paths::springBoard); }

bool restartSpringBoard(const std::string& deviceRoot)
{
    if (!isBooted(deviceRoot))
        return false;
    return runTool({ jailbreakHostPath(deviceRoot, JailbreakPaths::killall), "-9", "SpringBoard" }).succeeded();
}

} // namespace Device
