// Installs, upgrades and removes packages on a device with the machine's real dpkg: the
// device is dpkg's root and holds its database, and maintainer scripts run without chroot,
// finding the device in DPKG_ROOT. The one way anything lands in a device's Library folders.
#pragma once

#include "host/device/DeviceScheme.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Device {

namespace PackageNames {
inline constexpr const char* kestrel = "com.plover.kestrel";
inline constexpr const char* companion = "com.plover.nightjar";
inline constexpr const char* firmware = "firmware";
} // namespace PackageNames

struct PackageResult {
    bool ok { false };
    std::string message; // one line: what was done, or why nothing was
    bool changedWhatLoads { false }; // a running SpringBoard must restart to see the change
    bool restartedSpringBoard { false };
};

// What the device's database records for one package.
struct PackageState {
    std::string want; // install, deinstall, purge, hold, unknown
    std::string status; // installed, config-files, half-installed, unpacked, ...
    bool needsReinstall { false }; // dpkg's reinstreq: an unpack did not finish
    std::string version;
    std::string provides;
};

class PackageManager {
public:
    // The device's scheme is read off it (rootless when it has /var/jb), or given for a device
    // still being laid out.
    explicit PackageManager(std::string deviceRoot);
    PackageManager(std::string deviceRoot, Scheme);

    // Installs the package in the archive, or upgrades (or reinstalls) the installed one.
    // Before dpkg changes anything, the whole archive is read and its architecture, scheme
    // (rootful or rootless), conflicts and dependencies are checked against the device: an install refused for any of these
    // leaves the device byte for byte as it was. What dpkg finds only while it works (a file
    // another package owns, a failing maintainer script) is refused too, and dpkg records it
    // in its database and log.
    PackageResult install(const std::string& archivePath);
    // Removes the package and keeps its configuration (for Kestrel, the settings file);
    // purge deletes that too. A package that is not installed is no error.
    PackageResult remove(const std::string& package, bool purge);

    // Sets the version the firmware package records, as a phone's firmware package follows
    // the running system; dependencies on the firmware are checked against it. Recorded in
    // dpkg's own journal under dpkg's lock, so it never races a dpkg run on the device.
    std::optional<std::string> setFirmwareVersion(const std::string& version);

    // Finishes what a dpkg run that was killed left: packages half unpacked are removed,
    // packages unpacked but not configured are configured. Gives a note of what it did
    // ("" for nothing), each clause ending in "; ". Throws as state() does.
    std::string finishInterruptedWork();

    // Replaces the firmware package's file list (the base system's files), under dpkg's lock.
    std::optional<std::string> setFirmwareFileList(const std::string& listing);

    // Every installed package and its version, by name. Throws as state() does.
    std::vector<std::pair<std::string, std::string>> installedPackages();

    // The package's record, nullopt when the database has none. Throws std::runtime_error
    // when the database cannot be read.
    std::optional<PackageState> state(const std::string& package);
    // The installed version; nullopt when the package is not installed (a removed package
    // whose configuration is kept is not installed). Throws as state() does.
    std::optional<std::string> installedVersion(const std::string& package);

    const std::string& root() const { return m_root; }
    Scheme scheme() const { return m_scheme; }

    // Whether install and remove restart a running SpringBoard afterwards (they do by default).
    void setRestartsSpringBoard(bool restarts) { m_restartsSpringBoard = restarts; }

private:
    using Packages = std::map<std::string, PackageState>;
    using Refusal = std::function<PackageResult(const std::string& reason)>;
    PackageResult installArchive(const std::string& archivePath, const Refusal&);
    PackageResult removePackage(const std::string& package, bool purge);
    std::optional<std::string> databaseProblem() const;
    std::vector<std::string> dpkgCommand(std::initializer_list<std::string> arguments, bool logged = true) const;
    std::vector<std::string> queryCommand() const;
    static Packages parsePackages(const std::string& listing);
    Packages packages();
    std::string completeHalfInstalled(const std::string& package, const PackageState&);
    std::string finishInterruptedRuns(const std::string& except, Packages&, std::optional<std::string>& failure);
    std::optional<std::string> recordFirmwareVersion(const std::string& version, int& entry);
    static std::optional<std::string> unmetDependencies(
        const std::string& package, const std::string& relations, Packages installed);
    bool restartIfBooted();

    std::string m_root;
    Scheme m_scheme;
    std::string m_adminDirectory;
    bool m_restartsSpringBoard { true };
};

// Whether the device is booted: a SpringBoard of its own is running.
bool isBooted(const std::string& deviceRoot);

// Restarts the device's SpringBoard as package managers on a phone do, through the device's
// own killall -9 SpringBoard (/usr/bin/killall, or /var/jb/usr/bin/killall when rootless). False when no SpringBoard was there to kill.
bool restartSpringBoard(const std::string& deviceRoot);

} // namespace Device
