// A device's dpkg database: what it records of each package (its status as dpkg's own words
// name it, read once into an enum), read through the real dpkg-query, and the two records the
// base system writes itself (the firmware's version and file list), under dpkg's own locks.
#pragma once

#include "platform/Expected.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Device {

namespace PackageNames {
inline constexpr const char* kestrel = "com.plover.kestrel";
inline constexpr const char* companion = "com.plover.nightjar";
inline constexpr const char* firmware = "firmware";
} // namespace PackageNames

// dpkg's Status-Status and Status-Want, in its own words (statusWord, wantWord).
enum class PackageStatus {
    notInstalled,
    configFiles,
    halfInstalled,
    unpacked,
    halfConfigured,
    triggersAwaited,
    triggersPending,
    installed
};
enum class PackageWant { unknown, install, hold, deinstall, purge };
std::string_view statusWord(PackageStatus);
std::string_view wantWord(PackageWant);

// What the database records for one package.
struct PackageState {
    PackageWant want { PackageWant::unknown };
    PackageStatus status { PackageStatus::notInstalled };
    bool needsReinstall { false }; // dpkg's reinstreq: an unpack did not finish
    std::string version;
    std::string provides;

    bool isInstalled() const { return status == PackageStatus::installed; }
    // An unpack that was cut short: dpkg does not know every file the package put down.
    bool isHalfInstalled() const { return needsReinstall || status == PackageStatus::halfInstalled; }
    // Unpacked, but its configuration did not finish.
    bool isUnconfigured() const
    {
        return status == PackageStatus::unpacked || status == PackageStatus::halfConfigured
            || status == PackageStatus::triggersAwaited || status == PackageStatus::triggersPending;
    }
    // Its files are on the device: neither removed (settings kept) nor half unpacked.
    bool isPresent() const { return status != PackageStatus::configFiles && !isHalfInstalled(); }
};

using Packages = std::map<std::string, PackageState>;

class PackageDatabase {
public:
    // The database of the device at root, in its admin directory (root + the scheme's path).
    PackageDatabase(std::string root, std::string adminDirectory);

    const std::string& directory() const { return m_directory; }

    // Whether the device has a database at all; why not (with the command that makes one).
    Platform::Expected<void> exists() const;

    // dpkg-query's command line that lists every package, one line each (parse reads it).
    std::vector<std::string> queryCommand() const;
    static Packages parse(std::string_view listing);
    // Every package the database records (none that is not-installed).
    Platform::Expected<Packages> read() const;

    // Records the firmware's version as dpkg's next journal entry, under dpkg's lock, so it
    // never races a dpkg run; dpkg and dpkg-query read the journal over the status file.
    // Gives the entry's number, or -1 when the record already held the version.
    Platform::Expected<int> recordFirmwareVersion(const std::string& version) const;
    // Replaces the firmware package's file list, under dpkg's lock.
    Platform::Expected<void> setFirmwareFileList(const std::string& listing) const;

private:
    std::string m_root;
    std::string m_directory;
};

} // namespace Device
