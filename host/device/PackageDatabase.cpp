#include "host/device/PackageDatabase.h"

#include "host/device/DriverProtocol.h"
#include "host/device/ToolRun.h"
#include "platform/Lines.h"
#include "platform/fs/ReplaceFile.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace Device {

namespace {

constexpr const char* dpkgQueryProgram = "/usr/bin/dpkg-query";
constexpr auto lockPatience = std::chrono::seconds(5);

// dpkg's words, in the order of the values (read and written as the protocol's tables are).
struct StatusWords {
    static constexpr std::array words { "not-installed", "config-files", "half-installed", "unpacked",
        "half-configured", "triggers-awaited", "triggers-pending", "installed" };
    static constexpr auto last = PackageStatus::installed;
};
struct WantWords {
    static constexpr std::array words { "unknown", "install", "hold", "deinstall", "purge" };
    static constexpr auto last = PackageWant::purge;
};

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

    // Taken, or why not.
    Platform::Expected<void> taken() const
    {
        if (m_error)
            return Platform::Failure { *m_error };
        return {};
    }

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

} // namespace

std::string_view statusWord(PackageStatus status) { return Driver::wordIn<StatusWords>(status); }
std::string_view wantWord(PackageWant want) { return Driver::wordIn<WantWords>(want); }

PackageDatabase::PackageDatabase(std::string root, std::string adminDirectory)
    : m_root(std::move(root))
    , m_directory(std::move(adminDirectory))
{
}

Platform::Expected<void> PackageDatabase::exists() const
{
    struct stat info;
    for (const char* record : { "/status", "/info/format" }) {
        if (::stat((m_directory + record).c_str(), &info) != 0)
            return Platform::Failure { "the device has no package database (bring it up to date with: kestrel init "
                + m_root + ")" };
    }
    return {};
}

std::vector<std::string> PackageDatabase::queryCommand() const
{
    // One line a package: name, wanted, error flag, status, version, provides.
    return { dpkgQueryProgram, "--admindir=" + m_directory, "--show",
        "--showformat=${Package}\\t${db:Status-Want}\\t${db:Status-Eflag}\\t${db:Status-Status}"
        "\\t${Version}\\t${Provides}\\n" };
}

Packages PackageDatabase::parse(std::string_view listing)
{
    Packages found;
    for (auto line : Platform::lines(listing)) {
        auto fields = Platform::fields(line, '\t');
        auto status = fields.size() == 6 ? Driver::valueIn<StatusWords>(fields[3]) : std::nullopt;
        if (fields[0].empty() || !status || *status == PackageStatus::notInstalled)
            continue;
        found[std::string(fields[0])] = { Driver::valueIn<WantWords>(fields[1]).value_or(PackageWant::unknown), *status,
            fields[2] == "reinstreq", std::string(fields[4]), std::string(fields[5]) };
    }
    return found;
}

Platform::Expected<Packages> PackageDatabase::read() const
{
    auto listing = runTool(queryCommand());
    if (!listing.succeeded())
        return Platform::Failure { "cannot read the device's package database: " + failureReason(listing) };
    return parse(listing.output);
}

Platform::Expected<int> PackageDatabase::recordFirmwareVersion(const std::string& version) const
{
    if (!isFirmwareVersion(version))
        return Platform::Failure { "bad firmware version \"" + version + "\"" };
    DatabaseLock lock(m_directory);
    if (auto taken = lock.taken(); !taken)
        return taken.failure();
    // Read under the lock: the record as dpkg has it, its journal included.
    auto record = runTool({ dpkgQueryProgram, "--admindir=" + m_directory, "--status", PackageNames::firmware });
    size_t line = record.output.starts_with("Version: ") ? 0 : record.output.find("\nVersion: ");
    if (!record.succeeded() || line == std::string::npos)
        return Platform::Failure { "the device's package database has no firmware package" };
    line += record.output[line] == '\n';
    size_t end = record.output.find('\n', line);
    if (record.output.compare(line, end - line, "Version: " + version) == 0)
        return -1;
    std::string changed = record.output.substr(0, line) + "Version: " + version + record.output.substr(end);

    // An entry in dpkg's journal: dpkg and dpkg-query read it over the status file, and
    // dpkg folds it in at its next run, as it does with its own. Written as dpkg writes one,
    // through updates/tmp.i.
    std::string updates = m_directory + "/updates";
    auto next = nextJournalEntry(updates);
    if (!next)
        return Platform::Failure { "cannot read " + updates + ": " + std::strerror(errno) };
    char name[16];
    std::snprintf(name, sizeof(name), "/%04d", *next);
    Platform::ReplaceOptions options;
    options.temporary = updates + "/tmp.i";
    if (auto written = Platform::replaceFile(updates + name, changed, options); !written)
        return written.failure();
    return *next;
}

Platform::Expected<void> PackageDatabase::setFirmwareFileList(const std::string& listing) const
{
    DatabaseLock lock(m_directory);
    if (auto taken = lock.taken(); !taken)
        return taken;
    return Platform::replaceFile(m_directory + "/info/" + PackageNames::firmware + ".list", listing);
}

} // namespace Device
