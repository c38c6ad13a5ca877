// The package manager's own logic, in-process, against real dpkg: versions ordered as dpkg
// orders them, dpkg's reasons reduced to one line, and the firmware's version kept in step
// with the running system without ever leaving the database inconsistent.
#include "host/device/DebianVersion.h"
#include "host/device/DeviceLayout.h"
#include "host/device/PackageManager.h"
#include "host/device/ToolRun.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <signal.h>
#include <sys/wait.h>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace {

// What an install or a removal said, done or refused.
std::string said(const Platform::Expected<Device::PackageChange>& change)
{
    return change ? change->message : change.error();
}

namespace fs = std::filesystem;
using namespace Device;

const std::string buildDirectory = KESTREL_BUILD_DIR;

Artifacts builtArtifacts()
{
    return { buildDirectory + "/bin", buildDirectory + "/lib", buildDirectory + "/packages" };
}

std::string readAll(const std::string& path)
{
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream contents;
    contents << stream.rdbuf();
    return contents.str();
}

class ScratchFolder {
public:
    ScratchFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "kestrel-packages-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a scratch folder");
        m_path = fs::canonical(pattern).string();
    }
    ~ScratchFolder()
    {
        std::error_code error;
        fs::remove_all(m_path, error);
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// The built Kestrel package with its control record changed by `edit`.
std::string rebuiltPackage(
    const std::string& scratch, const std::string& name, const std::function<void(std::string&)>& edit)
{
    std::string tree = scratch + "/" + name, archive = tree + ".deb";
    EXPECT_TRUE(runTool({ "/usr/bin/dpkg-deb", "--raw-extract", builtArtifacts().kestrelPackage(), tree }).succeeded());
    std::string control = readAll(tree + "/DEBIAN/control");
    edit(control);
    std::ofstream(tree + "/DEBIAN/control", std::ios::trunc) << control;
    EXPECT_TRUE(runTool({ "/usr/bin/dpkg-deb", "--root-owner-group", "-Znone", "--build", tree, archive }).succeeded());
    return archive;
}

TEST(DebianVersions, OrderAsDpkgOrdersThem)
{
    const std::pair<const char*, const char*> pairs[] = {
        { "1.0", "1.0" },
        { "1.0", "1.0-0" },
        { "1.0", "1.00" },
        { "1.2", "1.10" },
        { "1.0~rc1", "1.0" },
        { "1.0~rc1", "1.0~rc2" },
        { "1.0~~", "1.0~" },
        { "1.0a", "1.0" },
        { "1.0a", "1.0+" },
        { "1.0.", "1.0+" },
        { "1:0.1", "2.0" },
        { "0:2.0", "2.0" },
        { "2.0-1", "2.0-1.1" },
        { "2.0-a", "2.0-1" },
        { "14.0", "10.0" },
        { "12.4.1", "12.4" },
        { "13.0b2", "13.0" },
        { "9.3", "10.0" },
        { "1-2-3", "1-2-4" },
    };
    for (auto& [a, b] : pairs) {
        for (auto [relation, dpkgRelation] :
            { std::pair { "<<", "lt" }, std::pair { "=", "eq" }, std::pair { ">>", "gt" } }) {
            bool dpkg = !runTool({ "/usr/bin/dpkg", "--compare-versions", a, dpkgRelation, b }).exitCode;
            EXPECT_EQ(versionSatisfies(a, relation, b), dpkg) << a << " " << relation << " " << b;
        }
    }
    EXPECT_TRUE(versionSatisfies("14.0", ">=", "10.0"));
    EXPECT_TRUE(versionSatisfies("1.0", "<", "1.0")) << "the old < means <=";
    EXPECT_FALSE(versionSatisfies("1.0", "~=", "1.0")) << "no such relation";
}

TEST(ToolFailures, OneLineSaysWhy)
{
    auto reason = [](std::string output) {
        ToolResult result;
        result.program = "dpkg";
        result.started = true;
        result.exitCode = 1;
        result.output = std::move(output);
        return failureReason(result);
    };
    EXPECT_EQ(reason("dpkg: error processing archive a.deb (--install):\n package architecture (armhf) does not match "
                     "system (amd64)\n"
                     "Errors were encountered while processing:\n a.deb\n"),
        "package architecture (armhf) does not match system (amd64)");
    EXPECT_EQ(reason("dpkg-deb: error: unexpected end of file in archive member header in b.deb\n"
                     "dpkg: error processing archive b.deb (--install):\n dpkg-deb --control subprocess returned error "
                     "exit status 2\n"),
        "dpkg-deb: error: unexpected end of file in archive member header in b.deb")
        << "the cause, not its consequence";
    EXPECT_EQ(reason("dpkg-deb (subprocess): cannot copy archive member from 'c.deb' to decompressor pipe: unexpected "
                     "end of file\n"
                     "dpkg-deb: error: <decompress> subprocess returned error exit status 2\n"),
        "dpkg-deb (subprocess): cannot copy archive member from 'c.deb' to decompressor pipe: unexpected end of file");
    EXPECT_EQ(reason("dpkg: dependency problems prevent removal of x:\n y depends on x.\n"),
        "dpkg: dependency problems prevent removal of x: y depends on x.");
    EXPECT_EQ(reason("dpkg: error processing archive d.deb (--install):\n d conflicts with mobilesubstrate\n  "
                     "mobilesubstrate (version 0.9) is present and installed.\n"),
        "d conflicts with mobilesubstrate; mobilesubstrate (version 0.9) is present and installed.")
        << "each of dpkg's lines stays a clause of its own";
    EXPECT_EQ(reason(""), "dpkg failed with exit status 1");
    ToolResult killed;
    killed.program = "dpkg";
    killed.started = true;
    killed.signal = 9;
    EXPECT_EQ(failureReason(killed), "dpkg was killed by signal 9 before it finished");
}

// A scenario picking another iOS profile moves the firmware's record with it; what depends
// on the firmware is checked against that version, and dpkg folds the change into its status
// file at its next run.
TEST(FirmwareVersion, FollowsTheRunningSystemAndKeepsTheDatabaseSound)
{
    ScratchFolder scratch;
    std::string root = scratch.path() + "/device";
    InitOptions options;
    options.firmwareVersion = "13.0";
    ASSERT_TRUE(initDevice(root, options, builtArtifacts()).ok());
    PackageManager packages(root);
    EXPECT_EQ((*packages.state(PackageNames::firmware))->version, "13.0");

    EXPECT_TRUE(packages.setFirmwareVersion("12.4").ok());
    EXPECT_TRUE(packages.setFirmwareVersion("12.4").ok());
    EXPECT_EQ((*packages.state(PackageNames::firmware))->version, "12.4");
    EXPECT_EQ(std::distance(fs::directory_iterator(root + "/var/lib/dpkg/updates"), {}), 1)
        << "one journal entry, written once";
    // Boot after boot with no dpkg run in between: the journal stays short.
    for (int boot = 0; boot < 22; ++boot)
        ASSERT_TRUE(packages.setFirmwareVersion(boot % 2 ? "12.4" : "13.0").ok());
    EXPECT_LT(std::distance(fs::directory_iterator(root + "/var/lib/dpkg/updates"), {}), 17);
    EXPECT_EQ((*packages.state(PackageNames::firmware))->version, "12.4");
    for (auto* bad : { "", "12 4", "12.4\nPackage: evil", "x1", "-1" })
        EXPECT_FALSE(packages.setFirmwareVersion(bad).ok()) << bad;

    auto needsThirteen = rebuiltPackage(scratch.path(), "needs13",
        [](std::string& control) { control.replace(control.find("firmware (>= 10.0)"), 18, "firmware (>= 13.0)"); });
    auto refused = packages.install(needsThirteen);
    EXPECT_FALSE(refused.ok());
    EXPECT_NE(said(refused).find("firmware 12.4 is installed"), std::string::npos) << said(refused);

    auto reinstalled = packages.install(builtArtifacts().kestrelPackage());
    ASSERT_TRUE(reinstalled.ok()) << said(reinstalled);
    EXPECT_EQ(said(reinstalled), std::string("reinstalled ") + PackageNames::kestrel + " " KESTREL_VERSION);
    EXPECT_TRUE(fs::is_empty(root + "/var/lib/dpkg/updates")) << "dpkg folded the journal in";
    auto status = readAll(root + "/var/lib/dpkg/status");
    EXPECT_NE(status.find("Package: firmware\nStatus: install ok installed"), std::string::npos);
    EXPECT_NE(status.find("Version: 12.4\n"), std::string::npos);
    auto audit = runTool({ "/usr/bin/dpkg", "--root=" + root, "--admindir=" + root + "/var/lib/dpkg", "--audit" });
    EXPECT_TRUE(audit.succeeded() && audit.output.empty()) << audit.output;
}

// What a session calls: one line back, whether anything was done or not.
TEST(PackageResults, AnswerInOneLine)
{
    ScratchFolder scratch;
    std::string root = scratch.path() + "/device";
    InitOptions stock;
    stock.stock = true;
    ASSERT_TRUE(initDevice(root, stock, builtArtifacts()).ok());
    PackageManager packages(root);
    EXPECT_EQ(*packages.installedVersion(PackageNames::kestrel), std::nullopt);

    auto absent = packages.remove(PackageNames::kestrel, false);
    EXPECT_TRUE(absent.ok());
    EXPECT_EQ(said(absent), "com.plover.kestrel is not installed; nothing to remove");
    auto installed = packages.install(builtArtifacts().kestrelPackage());
    EXPECT_TRUE(installed.ok());
    EXPECT_EQ(said(installed), "installed com.plover.kestrel " KESTREL_VERSION);
    EXPECT_FALSE(installed->restartedSpringBoard) << "nothing was running";
    EXPECT_EQ(*packages.installedVersion(PackageNames::kestrel), KESTREL_VERSION);

    auto upgrade = rebuiltPackage(scratch.path(), "upgrade", [](std::string& control) {
        control.replace(control.find("Version: "),
            control.find('\n', control.find("Version: ")) - control.find("Version: "), "Version: 99.0");
    });
    auto upgraded = packages.install(upgrade);
    EXPECT_EQ(said(upgraded), "upgraded com.plover.kestrel " KESTREL_VERSION " to 99.0");
    auto downgraded = packages.install(builtArtifacts().kestrelPackage());
    EXPECT_EQ(said(downgraded), "downgraded com.plover.kestrel 99.0 to " KESTREL_VERSION);

    auto badName = packages.remove("../etc", true);
    EXPECT_FALSE(badName.ok());
    EXPECT_EQ(said(badName), "cannot purge ../etc: not a package name");
    for (auto& result : { absent, installed, upgraded, downgraded, badName })
        EXPECT_EQ(said(result).find('\n'), std::string::npos) << said(result);
}

// A step of dpkg's that fails is an error said as such, never reported as done; a database
// that an earlier dpkg still holds is said in one line naming that dpkg.
TEST(PackageFailures, AreSaidAsSuch)
{
    ScratchFolder scratch;
    std::string root = scratch.path() + "/device";
    InitOptions stock;
    stock.stock = true;
    ASSERT_TRUE(initDevice(root, stock, builtArtifacts()).ok());
    std::string admin = root + "/var/lib/dpkg";

    // Another process holds dpkg's lock, as a running install does.
    int holder[2];
    ASSERT_EQ(::pipe(holder), 0);
    pid_t child = ::fork();
    if (!child) {
        int fd = ::open((admin + "/lock-frontend").c_str(), O_RDWR);
        struct flock lock { };
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        char ready = fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
        (void)!::write(holder[1], &ready, 1);
        ::pause();
        ::_exit(0);
    }
    char ready = 0;
    ASSERT_EQ(::read(holder[0], &ready, 1), 1);
    ASSERT_EQ(ready, 'y');
    auto busy = PackageManager(root).install(builtArtifacts().kestrelPackage());
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_FALSE(busy.ok());
    EXPECT_EQ(said(busy),
        "cannot install " + builtArtifacts().kestrelPackage() + ": an earlier install or removal is still running (pid "
            + std::to_string(child) + "); try again when it ends");

    // A package unpacked but never configured, whose configuration fails: finishing it is
    // part of the next command, and that command fails with dpkg's reason.
    std::string tree = scratch.path() + "/failing";
    ASSERT_TRUE(runTool({ "/usr/bin/dpkg-deb", "--raw-extract", builtArtifacts().companionPackage(), tree }).succeeded());
    std::ofstream(tree + "/DEBIAN/postinst") << "#!/bin/sh\necho 'no room for the clock' >&2\nexit 1\n";
    fs::permissions(tree + "/DEBIAN/postinst", fs::perms(0755));
    ASSERT_TRUE(runTool({ "/usr/bin/dpkg-deb", "--root-owner-group", "--build", tree, tree + ".deb" }).succeeded());
    auto unpack = runTool({ "/usr/bin/dpkg", "--root=" + root, "--admindir=" + admin, "--force-not-root",
        "--force-script-chrootless", "--unpack", tree + ".deb" });
    ASSERT_TRUE(unpack.succeeded()) << unpack.output;
    PackageManager packages(root);
    auto install = packages.install(builtArtifacts().kestrelPackage());
    EXPECT_FALSE(install.ok()) << said(install);
    EXPECT_NE(said(install).find("cannot finish configuring what an interrupted dpkg run had unpacked"),
        std::string::npos)
        << said(install);
    EXPECT_EQ(said(install).find("finished configuring"), std::string::npos) << said(install);
    auto remove = packages.remove(PackageNames::kestrel, false);
    EXPECT_FALSE(remove.ok()) << said(remove);
    auto summary = initDevice(root, {}, builtArtifacts());
    EXPECT_FALSE(summary.ok()) << *summary;

    ToolResult refused;
    refused.program = "dpkg";
    refused.started = true;
    refused.exitCode = 2;
    refused.output = "dpkg: error: dpkg frontend lock was locked by another process with pid 4242\nNote: removing the "
                     "lock file is always wrong\n";
    EXPECT_EQ(failureReason(refused), "an earlier install or removal is still running (pid 4242); try again when it ends");
}

} // namespace
