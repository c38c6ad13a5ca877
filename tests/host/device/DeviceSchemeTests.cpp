// What makes a package or a profile wrong for a device's scheme.
#include "host/device/DeviceScheme.h"

#include <gtest/gtest.h>

namespace {

using namespace Device;

std::string reason(const Platform::Expected<void>& answer) { return answer ? std::string("fits") : answer.error(); }

TEST(DeviceScheme, APackageFitsTheDeviceWhoseJailbreakRootHoldsAllItsFiles)
{
    const std::vector<std::string> folders { "./", "./var/" };
    const std::vector<std::string> rootless { "./", "./var/", "./var/jb/", "./var/jb/Library/",
        "./var/jb/Library/a.dylib" };
    const std::vector<std::string> rootful { "./", "./Library/", "./Library/a.dylib", "./var/", "./var/mobile/x" };
    const std::vector<std::string> mixed { "./", "./var/", "./var/jb/", "./var/jb/b", "./usr/", "./usr/bin/tool" };

    EXPECT_TRUE(packageFitsScheme(Scheme::rootless, rootless).ok());
    EXPECT_TRUE(packageFitsScheme(Scheme::rootful, rootful).ok());
    EXPECT_TRUE(packageFitsScheme(Scheme::rootful, folders).ok()) << "the folders on the way fit both";
    EXPECT_TRUE(packageFitsScheme(Scheme::rootless, folders).ok());
    EXPECT_TRUE(packageFitsScheme(Scheme::rootful, { "./var/jbx/file" }).ok()) << "only /var/jb itself";

    // The line names a file out of place before any folder.
    EXPECT_EQ(reason(packageFitsScheme(Scheme::rootless, rootful)),
        "it is built for rootful jailbreaks (/Library/a.dylib is outside /var/jb), and the device is rootless");
    EXPECT_EQ(reason(packageFitsScheme(Scheme::rootful, rootless)),
        "it is built for rootless jailbreaks (/var/jb/Library/a.dylib is under /var/jb), and the device is rootful");
    EXPECT_EQ(reason(packageFitsScheme(Scheme::rootless, mixed)),
        "it is built for rootful jailbreaks (/usr/bin/tool is outside /var/jb), and the device is rootless");
    EXPECT_EQ(reason(packageFitsScheme(Scheme::rootful, mixed)),
        "it is built for rootless jailbreaks (/var/jb/b is under /var/jb), and the device is rootful");
    EXPECT_EQ(reason(packageFitsScheme(Scheme::rootful, { "./var/jb/" })),
        "it is built for rootless jailbreaks (/var/jb is under /var/jb), and the device is rootful");
}

TEST(DeviceScheme, ARootlessDeviceRunsItsJailbreaksSystemsOnly)
{
    EXPECT_EQ(
        reason(runsSystem(Scheme::rootless, { 14, 8, 1 })), "a rootless device runs iOS 15.0 and later, not 14.8.1");
    EXPECT_TRUE(runsSystem(Scheme::rootless, { 15, 0, 0 }).ok());
    EXPECT_TRUE(runsSystem(Scheme::rootless, { 16, 2, 0 }).ok());
    EXPECT_TRUE(runsSystem(Scheme::rootful, { 9, 0, 0 }).ok()) << "rootful devices keep every profile";
    EXPECT_EQ(jailbreakPath(Scheme::rootless, "/usr/bin/killall"), "/var/jb/usr/bin/killall");
    EXPECT_EQ(jailbreakPath(Scheme::rootful, "/usr/bin/killall"), "/usr/bin/killall");
}

} // namespace
