#include "TemporaryDevice.h"
#include "platform/fs/DeviceRoot.h"
#include "platform/fs/ExecutablePath.h"
#include "platform/process/ProcessArguments.h"
#include "platform/process/ProcessArgumentsTesting.h"

#include <gtest/gtest.h>
#include <stdexcept>

using namespace Platform;

TEST(DeviceRoot, ResolveNormalisesAndClampsAtTheRoot)
{
    setDeviceRoot("/tmp/dev//one/./");
    EXPECT_EQ(deviceRoot(), "/tmp/dev/one");
    EXPECT_EQ(resolve("/var/mobile/Library"), "/tmp/dev/one/var/mobile/Library");
    EXPECT_EQ(resolve("//var///mobile/./Library/"), "/tmp/dev/one/var/mobile/Library");
    EXPECT_EQ(resolve("/var/mobile/../log/syslog"), "/tmp/dev/one/var/log/syslog");
    EXPECT_EQ(resolve("/"), "/tmp/dev/one");
    EXPECT_EQ(resolve(""), "/tmp/dev/one");
    // A device path can never leave its device, however many ".." it holds.
    EXPECT_EQ(resolve("/../../etc/passwd"), "/tmp/dev/one/etc/passwd");
    EXPECT_EQ(resolve("/var/../../../../etc/passwd"), "/tmp/dev/one/etc/passwd");
    EXPECT_EQ(resolve("/.."), "/tmp/dev/one");
    // Relative paths are taken as absolute.
    EXPECT_EQ(resolve("usr/bin/killall"), "/tmp/dev/one/usr/bin/killall");
    // "..." and ".x" are ordinary names.
    EXPECT_EQ(resolve("/.../.x/..y"), "/tmp/dev/one/.../.x/..y");
    clearDeviceRoot();
}

TEST(DeviceRoot, NulEndsTheDevicePathSoItCannotSmuggleADotDot)
{
    setDeviceRoot("/tmp/dev");
    using namespace std::string_literals;
    // Without the cut, "..\0x" would be an ordinary name that the system truncates to "..".
    EXPECT_EQ(resolve("/..\0x"s), "/tmp/dev");
    EXPECT_EQ(resolve("/var/log\0/../../.."s), "/tmp/dev/var/log");
    clearDeviceRoot();
}

TEST(DeviceRoot, NothingResolvesWithoutARoot)
{
    clearDeviceRoot();
    EXPECT_FALSE(deviceRoot());
    EXPECT_THROW(resolve("/var/mobile"), std::logic_error);
    EXPECT_THROW(fileExists("/var/mobile"), std::logic_error);
}

TEST(DeviceRoot, TheMachineItselfIsNeverADevice)
{
    EXPECT_THROW(setDeviceRoot(""), std::logic_error);
    EXPECT_THROW(setDeviceRoot("/"), std::logic_error);
    EXPECT_THROW(setDeviceRoot("//./"), std::logic_error);
    EXPECT_FALSE(deviceRoot());
}

TEST(DeviceRoot, FileExistsLooksInsideTheDeviceAndFollowsSymlinks)
{
    TemporaryDevice device;
    device.writeFile("/var/lib/dpkg/status", "");
    EXPECT_TRUE(fileExists("/var/lib/dpkg/status"));
    EXPECT_TRUE(fileExists("/var/lib"));
    EXPECT_FALSE(fileExists("/var/lib/dpkg/missing"));
    // /etc/passwd exists on the machine, not in the device.
    EXPECT_FALSE(fileExists("/etc/passwd"));
    std::filesystem::create_symlink("status", device.hostPath("/var/lib/dpkg/link"));
    std::filesystem::create_symlink("nowhere", device.hostPath("/var/lib/dpkg/dangling"));
    EXPECT_TRUE(fileExists("/var/lib/dpkg/link"));
    EXPECT_FALSE(fileExists("/var/lib/dpkg/dangling"));
}

TEST(ExecutablePath, DeviceRootOfAnInstalledProgram)
{
    constexpr std::string_view springBoard = "/System/Library/CoreServices/SpringBoard.app/SpringBoard";
    EXPECT_EQ(deviceRootOfExecutable("/tmp/dev/System/Library/CoreServices/SpringBoard.app/SpringBoard", springBoard),
        "/tmp/dev");
    EXPECT_EQ(deviceRootOfExecutable("/tmp/dev/usr/bin/killall", "usr/bin/killall"), "/tmp/dev");
    // Not installed at that device path.
    EXPECT_FALSE(deviceRootOfExecutable("/tmp/dev/usr/bin/xkillall", "/usr/bin/killall"));
    EXPECT_FALSE(deviceRootOfExecutable("/tmp/dev/usr/bin/killall", springBoard));
    EXPECT_FALSE(deviceRootOfExecutable("/usr/bin/killall", "/usr/bin/killall"));
    EXPECT_FALSE(deviceRootOfExecutable("/usr/bin/killall", ""));
    EXPECT_FALSE(deviceRootOfExecutable("", "/usr/bin/killall"));
}

TEST(ExecutablePath, NamesThisTestProgram)
{
    auto path = executablePath();
    EXPECT_TRUE(path.starts_with('/'));
    EXPECT_TRUE(path.ends_with("/systemTests")) << path;
}

TEST(ProcessArguments, RealArgumentsUnlessATestOverridesThem)
{
    auto real = processArguments();
    ASSERT_FALSE(real.empty());
    EXPECT_TRUE(real[0].ends_with("systemTests")) << real[0];

    setProcessArgumentsForTesting(
        std::vector<std::string> { "/System/Library/CoreServices/SpringBoard.app/SpringBoard", "a b" });
    EXPECT_EQ(processArguments(),
        (std::vector<std::string> { "/System/Library/CoreServices/SpringBoard.app/SpringBoard", "a b" }));
    setProcessArgumentsForTesting(std::vector<std::string> {});
    EXPECT_TRUE(processArguments().empty());
    setProcessArgumentsForTesting(std::nullopt);
    EXPECT_EQ(processArguments(), real);
}
