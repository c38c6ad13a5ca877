#include "host/device/PackageManager.h"

#include "host/device/DebianVersion.h"
#include "host/device/DeviceLayout.h"
#include "host/device/ToolRun.h"
#include "platform/Lines.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace Device {

namespace {

using Platform::Expected;
using Platform::Failure;

constexpr int journalFoldThreshold = 16;

std::string_view trimmed(std::string_view text)
{
    size_t first = text.find_first_not_of(" \t\n");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\n") - first + 1);
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

// The paths of a package's files as `dpkg-deb --contents` lists them, tar's long listing:
// mode, owner, size, date, time, then the path (and " -> target" for a symbolic link).
std::vector<std::string> listedPaths(std::string_view listing)
{
    constexpr auto none = std::string_view::npos;
    std::vector<std::string> paths;
    for (auto line : Platform::lines(listing)) {
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

// What dpkg can only find once it has unpacked a package, and would leave it half set up for:
// a dependency the device does not meet. Why, in one line.
Expected<void> dependenciesMet(const std::string& package, const std::string& relations, Packages installed)
{
    std::erase_if(installed, [](auto& entry) { return !entry.second.isInstalled(); });
    for (auto group : Platform::fields(relations, ',')) {
        if (trimmed(group).empty())
            continue;
        auto alternatives = Platform::fields(group, '|');
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
                for (auto provided : Platform::fields(state.provides, ',')) {
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
        return Platform::Failure { package + " depends on " + std::string(trimmed(group)) + ", but " + why };
    }
    return {};
}

// An archive as the checks read it, before dpkg changes anything.
struct ArchiveFacts {
    std::string package;
    std::string version;
    std::string relations; // Pre-Depends and Depends
    Packages installed; // the device's database as it was read beside the archive
};

// Everything that can refuse the archive, at once and before anything is changed: its control
// record and its whole file tree (dpkg itself would find a damaged tree only half-way through
// unpacking it), its scheme, and dpkg's own checks (architecture, conflicts, pre-dependencies),
// which write nothing, not even its log.
Expected<ArchiveFacts> readArchive(
    const std::string& archive, Scheme scheme, const Dpkg& dpkg, const PackageDatabase& database)
{
    ToolOptions discard;
    discard.discardStandardOutput = true;
    auto fieldsRun = ToolRun::start(
        { Programs::dpkgDeb, "--show", "--showformat=${Package}\\t${Version}\\t${Pre-Depends}, ${Depends}", archive });
    auto treeRun = ToolRun::start({ Programs::dpkgDeb, "--fsys-tarfile", archive }, discard);
    auto contentsRun = ToolRun::start({ Programs::dpkgDeb, "--contents", archive });
    auto checkRun = ToolRun::start(dpkg.command({ "--no-act", "--install", archive }, false));
    auto queryRun = ToolRun::start(database.queryCommand());
    auto fields = fieldsRun.finish();
    auto tree = treeRun.finish();
    auto contents = contentsRun.finish();
    auto check = checkRun.finish();
    auto query = queryRun.finish();
    if (!query.succeeded())
        return Failure { "cannot read the device's package database: " + failureReason(query) };
    for (auto* run : { &fields, &tree, &contents }) {
        if (!run->succeeded())
            return Failure { failureReason(*run) };
    }
    // A package built for the other kind of jailbreak would put its files where nothing on
    // this device looks for them.
    if (auto fits = packageFitsScheme(scheme, listedPaths(contents.output)); !fits)
        return fits.failure();
    if (!check.succeeded())
        return Failure { failureReason(check) };
    auto values = Platform::fields(fields.output, '\t');
    if (values.size() != 3)
        return Failure { "its control record cannot be read" };
    ArchiveFacts facts { std::string(values[0]), std::string(values[1]), std::string(values[2]),
        PackageDatabase::parse(query.output) };
    std::replace(facts.relations.begin(), facts.relations.end(), '\n', ' ');
    return facts;
}

} // namespace

PackageManager::PackageManager(std::string deviceRoot)
    : PackageManager(deviceRoot, schemeOf(deviceRoot))
{
}

PackageManager::PackageManager(std::string deviceRoot, Scheme scheme)
    : m_scheme(scheme)
    , m_dpkg(std::move(deviceRoot), scheme)
    , m_database(m_dpkg.root(), m_dpkg.adminDirectory())
    , m_recovery(m_dpkg, m_database, scheme)
{
}

Expected<std::optional<PackageState>> PackageManager::state(const std::string& package)
{
    auto all = m_database.read();
    if (!all)
        return all.failure();
    auto found = all->find(package);
    if (found == all->end())
        return std::optional<PackageState>();
    return std::optional<PackageState>(found->second);
}

Expected<std::optional<std::string>> PackageManager::installedVersion(const std::string& package)
{
    auto found = state(package);
    if (!found)
        return found.failure();
    if (!*found || !(*found)->isInstalled())
        return std::optional<std::string>();
    return std::optional<std::string>((*found)->version);
}

Expected<std::string> PackageManager::finishInterruptedWork()
{
    if (auto exists = m_database.exists(); !exists)
        return exists.failure();
    auto all = m_database.read();
    if (!all)
        return all.failure();
    return m_recovery.finishInterruptedRuns({}, *all);
}

Expected<std::vector<std::pair<std::string, std::string>>> PackageManager::installedPackages()
{
    auto all = m_database.read();
    if (!all)
        return all.failure();
    std::vector<std::pair<std::string, std::string>> installed;
    for (auto& [name, state] : *all) {
        if (state.isInstalled())
            installed.emplace_back(name, state.version);
    }
    return installed;
}

Expected<PackageChange> PackageManager::install(const std::string& archivePath)
{
    auto installed = installArchive(archivePath);
    if (!installed)
        return Failure { "cannot install " + archivePath + ": " + installed.error() };
    return installed;
}

Expected<PackageChange> PackageManager::installArchive(const std::string& archivePath)
{
    if (auto exists = m_database.exists(); !exists)
        return exists.failure();
    struct stat info;
    if (::stat(archivePath.c_str(), &info) != 0)
        return Failure { std::strerror(errno) };
    if (!S_ISREG(info.st_mode))
        return Failure { "not a package file" };
    char resolved[PATH_MAX];
    if (!::realpath(archivePath.c_str(), resolved))
        return Failure { std::strerror(errno) };
    std::string archive = resolved;

    auto facts = readArchive(archive, m_scheme, m_dpkg, m_database);
    if (!facts)
        return facts.failure();
    auto& [package, version, relations, installed] = *facts;
    auto recovered = m_recovery.finishInterruptedRuns(package, installed);
    if (!recovered)
        return recovered.failure();
    std::string note = *recovered;
    if (auto met = dependenciesMet(package, relations, installed); !met)
        return Failure { note + met.error() };

    std::optional<std::string> before;
    if (auto found = installed.find(package); found != installed.end() && found->second.isInstalled())
        before = found->second.version;
    auto run = runTool(m_dpkg.command({ "--install", archive }));
    if (!run.succeeded())
        return Failure { note + failureReason(run) };

    std::string done = "installed " + package + " " + version;
    if (before && compareVersions(*before, version) == 0)
        done = "reinstalled " + package + " " + version;
    else if (before)
        done = (compareVersions(version, *before) > 0 ? "upgraded " : "downgraded ") + package + " " + *before + " to "
            + version;
    PackageChange change { note + done, true, restartIfBooted() };
    if (change.restartedSpringBoard)
        change.message += "; restarted SpringBoard";
    return change;
}

Expected<PackageChange> PackageManager::remove(const std::string& package, bool purge)
{
    std::string verb = purge ? "purge" : "remove";
    if (!isPackageName(package))
        return Failure { "cannot " + verb + " " + package + ": not a package name" };
    if (auto exists = m_database.exists(); !exists)
        return Failure { "cannot " + verb + " " + package + ": " + exists.error() };
    return removePackage(package, purge);
}

Expected<PackageChange> PackageManager::removePackage(const std::string& package, bool purge)
{
    std::string verb = purge ? "purge" : "remove";
    auto refused
        = [&](const std::string& reason) { return Failure { "cannot " + verb + " " + package + ": " + reason }; };
    auto all = m_database.read();
    if (!all)
        return refused(all.error());
    auto recovered = m_recovery.finishInterruptedRuns(package, *all);
    if (!recovered)
        return refused(recovered.error());
    std::string note = *recovered;
    if (auto found = all->find(package); found != all->end()) {
        if (auto completed = m_recovery.completeHalfInstalled(package, found->second); !completed.empty()) {
            note += completed;
            all = m_database.read();
            if (!all)
                return refused(all.error());
        }
    }
    auto found = all->find(package);
    std::optional<PackageState> before;
    if (found != all->end())
        before = found->second;
    if (!before)
        return PackageChange { note + package + " is not installed; nothing to " + verb };
    if (before->status == PackageStatus::configFiles && !purge)
        return PackageChange { note + package + " is already removed; its settings are kept (purge deletes them)" };

    // A package others depend on is refused by dpkg's own check, which writes nothing;
    // the real run would note its refusal in the database and the log.
    const char* action = purge ? "--purge" : "--remove";
    auto check = runTool(m_dpkg.command({ "--no-act", action, "--force-remove-reinstreq", package }, false));
    if (!check.succeeded())
        return Failure { note + refused(failureReason(check)).reason };
    auto run = runTool(m_dpkg.command({ action, "--force-remove-reinstreq", package }));
    if (!run.succeeded())
        return Failure { note + refused(failureReason(run)).reason };

    auto after = state(package);
    if (!after)
        return refused(after.error());
    std::string done = (purge ? "purged " : "removed ") + package + " " + before->version;
    if (*after && (*after)->status == PackageStatus::configFiles)
        done += "; its settings are kept (purge deletes them)";
    else if (purge && before->status == PackageStatus::configFiles)
        done = "purged the settings that " + package + " " + before->version + " left behind";
    // A package only dpkg's records still knew of was not loaded anywhere.
    bool changedWhatLoads = before->status != PackageStatus::configFiles;
    PackageChange change { note + done, changedWhatLoads, changedWhatLoads && restartIfBooted() };
    if (change.restartedSpringBoard)
        change.message += "; restarted SpringBoard";
    return change;
}

Expected<void> PackageManager::setFirmwareVersion(const std::string& version)
{
    auto entry = m_database.recordFirmwareVersion(version);
    if (!entry)
        return entry.failure();
    // Many boots and no dpkg run in between: let dpkg fold the journal into its status file.
    if (*entry >= journalFoldThreshold) {
        if (auto run = runTool(m_dpkg.command({ "--configure", "--pending" })); !run.succeeded())
            return Failure { "the firmware's version is recorded, but dpkg could not fold its journal in: "
                + failureReason(run) };
    }
    return {};
}

Expected<void> PackageManager::setFirmwareFileList(const std::string& listing)
{
    return m_database.setFirmwareFileList(listing);
}

bool PackageManager::restartIfBooted() { return m_restartsSpringBoard && restartSpringBoard(root()); }

} // namespace Device
