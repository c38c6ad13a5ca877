// A device holds its own base system: laid out from a copy of the build, it names nothing of
// that build and keeps booting once the copy is gone; `init` on an existing device brings the
// base system up to date and leaves every installed package as it was.
#include "host/device/DeviceLayout.h"
#include "host/device/PackageManager.h"
#include "host/device/ToolRun.h"
#include "support/FileSnapshot.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using namespace Device;

const std::string buildDirectory = KESTREL_BUILD_DIR;

Artifacts builtArtifacts()
{
    return { buildDirectory + "/bin", buildDirectory + "/lib", buildDirectory + "/packages" };
}

using TestSupport::readAll;
using TestSupport::snapshot;

class Scratch {
public:
    Scratch()
    {
        std::string pattern = (fs::temp_directory_path() / "kestrel-layout-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a scratch folder");
        m_path = fs::canonical(pattern).string();
    }
    ~Scratch()
    {
        std::error_code error;
        fs::remove_all(m_path, error);
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// Runs the build's kestrel on a scenario; true when every check held.
bool bootsAndUnlocks(const std::string& root, const std::string& scratch, std::string& output)
{
    std::string scenario = scratch + "/unlock.scenario";
    std::ofstream(scenario) << "boot\nface match\nexpect decision unlock-now\nexpect lockscreen dismissed\n";
    auto run = runTool({ buildDirectory + "/bin/kestrel", "run", root, scenario });
    output = run.output;
    return run.succeeded();
}

std::string installedVersion(const std::string& root, const char* package)
{
    return PackageManager(root).installedVersion(package)->value_or("absent");
}

// Both kinds of device: a rootless one has every file of its jailbreak and its packages under
// /var/jb and nothing of theirs outside it.
class BaseSystemOfEachScheme : public testing::TestWithParam<Scheme> { };

TEST_P(BaseSystemOfEachScheme, ADeviceNamesNothingOfItsBuildAndBootsAfterTheBuildIsGone)
{
    Scheme scheme = GetParam();
    Scratch scratch;
    // A copy of the build's packages and staged base system, as if built elsewhere.
    std::string copy = scratch.path() + "/build-copy";
    fs::create_directories(copy + "/bin");
    fs::create_directories(copy + "/lib");
    fs::copy(buildDirectory + "/packages", copy + "/packages", fs::copy_options::recursive);
    Artifacts copied { copy + "/bin", copy + "/lib", copy + "/packages" };
    auto files = readBaseSystemManifest(copied, scheme);
    ASSERT_TRUE(files) << files.error();
    std::string root = scratch.path() + "/device";
    InitOptions options;
    options.companion = true;
    options.scheme = scheme;
    ASSERT_TRUE(initDevice(root, options, copied).ok());
    ASSERT_EQ(schemeOf(root), scheme);
    std::string jailbreak(facts(Scheme::rootless).jailbreakRoot);

    bool springBoard = false, library = false;
    for (auto& file : *files) {
        springBoard = springBoard || file.path == std::string(Paths::springBoard).substr(1);
        library = library || file.path.starts_with("usr/lib/lib");
        EXPECT_EQ(readAll(root + "/" + file.path), readAll(copied.baseSystemDirectory(scheme) + "/files/" + file.path))
            << file.path;
    }
    EXPECT_TRUE(springBoard && library) << "the host program and its libraries are the device's own";

    for (auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file())
            continue;
        std::string path = entry.path().string().substr(root.size());
        bool jailbreaks = path.starts_with("/Library/") || path.starts_with("/usr/bin/")
            || path.starts_with("/var/lib/") || path.starts_with(jailbreak + "/");
        if (jailbreaks) {
            EXPECT_EQ(path.starts_with(jailbreak + "/"), scheme == Scheme::rootless) << path;
        }
        std::string contents = readAll(entry.path());
        for (auto& folder : { copy, buildDirectory })
            EXPECT_EQ(contents.find(folder), std::string::npos) << entry.path() << " names " << folder;
        if (!contents.starts_with("\x7f"
                                  "ELF"))
            continue;
        auto dynamic = runTool({ "/usr/bin/readelf", "-d", "-W", entry.path().string() });
        ASSERT_TRUE(dynamic.succeeded()) << dynamic.output;
        std::istringstream lines(dynamic.output);
        for (std::string line; std::getline(lines, line);) {
            if (line.find("(RUNPATH)") == std::string::npos && line.find("(RPATH)") == std::string::npos)
                continue;
            std::string paths = line.substr(line.find('[') + 1, line.rfind(']') - line.find('[') - 1);
            std::istringstream entries(paths);
            for (std::string path; std::getline(entries, path, ':');)
                EXPECT_TRUE(path.starts_with("$ORIGIN")) << entry.path() << ": run path " << path;
        }
    }

    fs::remove_all(copy);
    std::string output;
    EXPECT_TRUE(bootsAndUnlocks(root, scratch.path(), output)) << output;
    if (scheme == Scheme::rootless) {
        auto query = runTool({ root + jailbreak + "/usr/bin/dpkg-query", "--show", "--showformat=${Package} ",
            PackageNames::kestrel, PackageNames::companion });
        EXPECT_EQ(query.output, "com.plover.kestrel com.plover.nightjar ") << "its dpkg-query reads its own database";
    }
}

INSTANTIATE_TEST_SUITE_P(BaseSystem, BaseSystemOfEachScheme, testing::Values(Scheme::rootful, Scheme::rootless),
    [](const testing::TestParamInfo<Scheme>& info) { return std::string(facts(info.param).name); });

TEST(BaseSystem, InitAgainUpdatesTheBaseSystemAndChangesNoPackage)
{
    Scratch scratch;
    std::string root = scratch.path() + "/device";
    InitOptions first;
    first.companion = true;
    first.firmwareVersion = "13.0";
    auto summary = initDevice(root, first, builtArtifacts());
    ASSERT_TRUE(summary) << summary.error();
    EXPECT_EQ(*summary, "device ready at " + root);

    // An upgrade installed by hand, a base system of yesterday: one library changed, the host
    // program gone, and a library this build no longer has.
    std::string tree = scratch.path() + "/upgrade";
    ASSERT_TRUE(runTool({ "/usr/bin/dpkg-deb", "--raw-extract", builtArtifacts().kestrelPackage(), tree }).succeeded());
    std::string control = readAll(tree + "/DEBIAN/control");
    size_t version = control.find("Version: ");
    control.replace(version, control.find('\n', version) - version, "Version: 1.0.1");
    std::ofstream(tree + "/DEBIAN/control", std::ios::trunc) << control;
    ASSERT_TRUE(runTool({ "/usr/bin/dpkg-deb", "--root-owner-group", "--build", tree, tree + ".deb" }).succeeded());
    ASSERT_TRUE(PackageManager(root).install(tree + ".deb").ok());

    auto files = readBaseSystemManifest(builtArtifacts(), Scheme::rootful);
    ASSERT_TRUE(files) << files.error();
    std::string library;
    for (auto& file : *files) {
        if (file.path.starts_with("usr/lib/"))
            library = file.path;
    }
    ASSERT_FALSE(library.empty());
    std::ofstream(root + "/" + library, std::ios::trunc) << "an older build";
    fs::remove(root + Paths::springBoard);
    std::ofstream(root + "/usr/lib/libRetired.so") << "gone from this build";
    std::ofstream(root + "/var/lib/dpkg/info/firmware.list", std::ios::app) << "/usr/lib/libRetired.so\n";

    summary = initDevice(root, {}, builtArtifacts());
    ASSERT_TRUE(summary) << summary.error();
    EXPECT_EQ(*summary,
        "kept com.plover.kestrel 1.0.1, com.plover.nightjar " KESTREL_VERSION
        "; brought the base system up to date (replaced SpringBoard, "
            + fs::path(library).filename().string() + "; removed libRetired.so)");
    EXPECT_EQ(readAll(root + "/" + library),
        readAll(builtArtifacts().baseSystemDirectory(Scheme::rootful) + "/files/" + library));
    EXPECT_FALSE(fs::exists(root + "/usr/lib/libRetired.so"));
    EXPECT_EQ(installedVersion(root, PackageNames::kestrel), "1.0.1");
    EXPECT_EQ(installedVersion(root, PackageNames::companion), KESTREL_VERSION);
    EXPECT_EQ(installedVersion(root, PackageNames::firmware), "13.0") << "the device keeps its system version";

    summary = initDevice(root, {}, builtArtifacts());
    ASSERT_TRUE(summary) << summary.error();
    EXPECT_EQ(
        *summary, "kept com.plover.kestrel 1.0.1, com.plover.nightjar " KESTREL_VERSION "; base system up to date");
    std::string output;
    EXPECT_TRUE(bootsAndUnlocks(root, scratch.path(), output)) << output;

    // Changing what is installed is for install and remove: init refuses and names the command.
    auto before = snapshot(root);
    InitOptions stock;
    stock.stock = true;
    auto refused = initDevice(root, stock, builtArtifacts());
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().find("kestrel remove " + root), std::string::npos) << refused.error();
    ASSERT_TRUE(PackageManager(root).remove(PackageNames::companion, true).ok());
    before = snapshot(root);
    EXPECT_FALSE(initDevice(root, stock, builtArtifacts()).ok());
    InitOptions companion;
    companion.companion = true;
    refused = initDevice(root, companion, builtArtifacts());
    ASSERT_FALSE(refused);
    EXPECT_NE(
        refused.error().find("kestrel install " + root + " " + builtArtifacts().companionPackage()), std::string::npos)
        << refused.error();
    EXPECT_EQ(snapshot(root), before) << "a refused init changes nothing";

    // A stock device stays stock.
    ASSERT_TRUE(PackageManager(root).remove(PackageNames::kestrel, false).ok());
    summary = initDevice(root, {}, builtArtifacts());
    ASSERT_TRUE(summary) << summary.error();
    EXPECT_EQ(*summary, "kept the device's packages (no tweak is installed); base system up to date");
    EXPECT_EQ(installedVersion(root, PackageNames::kestrel), "absent");
    auto audit = runTool({ "/usr/bin/dpkg", "--root=" + root, "--admindir=" + root + "/var/lib/dpkg", "--audit" });
    EXPECT_TRUE(audit.succeeded() && audit.output.empty()) << audit.output;
}

} // namespace
