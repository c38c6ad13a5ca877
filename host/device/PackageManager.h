// Installs, upgrades and removes packages on a device with the machine's real dpkg: the
// device is dpkg's root and holds its database (Dpkg), and maintainer scripts run without
// chroot, finding the device in DPKG_ROOT. The one way anything lands in a device's Library
// folders. Its parts: the database (PackageDatabase), the checks an archive passes before dpkg
// changes anything (here), the recovery of interrupted runs (PackageRecovery) and the restart
// (SpringBoardRestart).
#pragma once

#include "host/device/DeviceScheme.h"
#include "host/device/Dpkg.h"
#include "host/device/PackageDatabase.h"
#include "host/device/PackageRecovery.h"
#include "host/device/SpringBoardRestart.h"
#include "platform/Expected.h"

#include <optional>
#include <string>
#include <vector>

namespace Device {

// What an install or a removal did.
struct PackageChange {
    std::string message; // one line: what was done
    bool changedWhatLoads { false }; // a running SpringBoard must restart to see the change
    bool restartedSpringBoard { false };
};

class PackageManager {
public:
    // The device's scheme is read off it (rootless when it has /var/jb), or given for a device
    // still being laid out.
    explicit PackageManager(std::string deviceRoot);
    PackageManager(std::string deviceRoot, Scheme);

    const std::string& root() const { return m_dpkg.root(); }
    Scheme scheme() const { return m_scheme; }

    // Installs the package in the archive, or upgrades (or reinstalls) the installed one.
    // Before dpkg changes anything, the whole archive is read and its architecture, scheme
    // (rootful or rootless), conflicts and dependencies are checked against the device: an
    // install refused for any of these leaves the device byte for byte as it was. What dpkg
    // finds only while it works (a file another package owns, a failing maintainer script) is
    // refused too, and dpkg records it in its database and log.
    Platform::Expected<PackageChange> install(const std::string& archivePath);
    // Removes the package and keeps its configuration (for Kestrel, the settings file);
    // purge deletes that too. A package that is not installed is no error.
    Platform::Expected<PackageChange> remove(const std::string& package, bool purge);

    // Sets the version the firmware package records, as a phone's firmware package follows
    // the running system; dependencies on the firmware are checked against it. Recorded in
    // dpkg's own journal under dpkg's lock, so it never races a dpkg run on the device.
    Platform::Expected<void> setFirmwareVersion(const std::string& version);

    // Finishes what a dpkg run that was killed left: packages half unpacked are removed,
    // packages unpacked but not configured are configured. Gives a note of what it did
    // ("" for nothing), each clause ending in "; ".
    Platform::Expected<std::string> finishInterruptedWork();

    // Replaces the firmware package's file list (the base system's files), under dpkg's lock.
    Platform::Expected<void> setFirmwareFileList(const std::string& listing);

    // Every installed package and its version, by name.
    Platform::Expected<std::vector<std::pair<std::string, std::string>>> installedPackages();

    // The package's record, nullopt when the database has none.
    Platform::Expected<std::optional<PackageState>> state(const std::string& package);
    // The installed version; nullopt when the package is not installed (a removed package
    // whose configuration is kept is not installed).
    Platform::Expected<std::optional<std::string>> installedVersion(const std::string& package);

    // Whether install and remove restart a running SpringBoard afterwards (they do by default).
    void setRestartsSpringBoard(bool restarts) { m_restartsSpringBoard = restarts; }

private:
    Platform::Expected<PackageChange> installArchive(const std::string& archivePath);
    Platform::Expected<PackageChange> removePackage(const std::string& package, bool purge);
    bool restartIfBooted();

    Scheme m_scheme;
    Dpkg m_dpkg;
    PackageDatabase m_database;
    PackageRecovery m_recovery;
    bool m_restartsSpringBoard { true };
};

} // namespace Device
