#include "host/device/PackageRecovery.h"

#include "host/device/DeviceLayout.h"
#include "host/device/ToolRun.h"

#include <algorithm>
#include <sys/stat.h>

namespace Device {

namespace {

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

} // namespace

PackageRecovery::PackageRecovery(const Dpkg& dpkg, const PackageDatabase& database, Scheme scheme)
    : m_dpkg(dpkg)
    , m_database(database)
    , m_scheme(scheme)
{
}

std::string PackageRecovery::completeHalfInstalled(const std::string& package, const PackageState& state) const
{
    if (!state.isHalfInstalled())
        return {};
    auto archive = builtArchive(package, m_scheme);
    if (!archive || !runTool(m_dpkg.command({ "--unpack", *archive })).succeeded())
        return {};
    return "unpacked " + package + " again from " + *archive + " to finish what an interrupted dpkg run began; ";
}

Platform::Expected<std::string> PackageRecovery::finishInterruptedRuns(
    const std::string& except, Packages& packages) const
{
    auto reread = [&]() -> Platform::Expected<void> {
        auto now = m_database.read();
        if (!now)
            return now.failure();
        packages = std::move(*now);
        return {};
    };
    std::string note;
    for (auto& [name, state] : packages) {
        if (name == except || !state.isHalfInstalled())
            continue;
        note += completeHalfInstalled(name, state);
        auto run = runTool(m_dpkg.command(
            { state.want == PackageWant::purge ? "--purge" : "--remove", "--force-remove-reinstreq", name }));
        if (run.succeeded())
            note += "removed " + name + ", which an interrupted dpkg run left half-installed; ";
        else
            note += "could not remove " + name + ", which an interrupted dpkg run left half-installed ("
                + failureReason(run) + "); ";
    }
    if (!note.empty()) {
        if (auto read = reread(); !read)
            return read.failure();
    }
    bool unconfigured
        = std::any_of(packages.begin(), packages.end(), [](auto& entry) { return entry.second.isUnconfigured(); });
    if (unconfigured) {
        auto run = runTool(m_dpkg.command({ "--configure", "--pending" }));
        if (!run.succeeded())
            return Platform::Failure { note
                + "cannot finish configuring what an interrupted dpkg run had unpacked: " + failureReason(run) };
        note += "finished configuring what an interrupted dpkg run had unpacked; ";
        if (auto read = reread(); !read)
            return read.failure();
    }
    return note;
}

} // namespace Device
