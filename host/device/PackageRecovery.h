// What a dpkg run that was killed leaves behind, finished as dpkg's next run would: packages
// half unpacked are removed, packages unpacked but not configured are configured.
#pragma once

#include "host/device/Dpkg.h"
#include "host/device/PackageDatabase.h"

#include <string>

namespace Device {

class PackageRecovery {
public:
    PackageRecovery(const Dpkg&, const PackageDatabase&, Scheme);

    // A package whose unpack was cut short has files on the device that dpkg never listed, and
    // removing it would leave them behind, still loaded by SpringBoard. When this build has the
    // package's archive, it is unpacked again in full first, so dpkg knows every file it owns.
    // Gives a note when it did so ("" when not).
    std::string completeHalfInstalled(const std::string& package, const PackageState&) const;

    // Finishes every interrupted run but `except`'s (about to be installed or removed, which is
    // left to that command), bringing `packages` up to date. Gives a note of what it did ("" for
    // nothing), each clause ending in "; "; the failure, when configuring failed, starts with it.
    Platform::Expected<std::string> finishInterruptedRuns(const std::string& except, Packages&) const;

private:
    const Dpkg& m_dpkg;
    const PackageDatabase& m_database;
    Scheme m_scheme;
};

} // namespace Device
