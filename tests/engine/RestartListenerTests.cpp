// The restart listener: after launch, each restart notification starts the device's killall
// with exactly "killall -9 SpringBoard" and no environment; nothing before launch or under
// another name.
// The test process is SpringBoard, the poster and the observer at once.
#include "EngineTestSupport.h"

#include "host/springboard/HostCommands.h"
#include "platform/notify/Notify.h"
#include "platform/notify/NotifyTesting.h"
#include "platform/process/ChildReaper.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using namespace EngineTesting;

namespace {

constexpr const char* restartName = "com.plover.kestrel.respring";
// The timeline shows the device path where argv[0] would be, then the other arguments.
const std::string killallSpawn = "spawn /usr/bin/killall -9 SpringBoard";
const std::string killallVector = "[killall] [-9] [SpringBoard]\n";

class RestartListenerTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        Platform::resetNotifyForTesting();
        boot();
        m_reapedBefore = Platform::ChildReaper::shared().reapedCount();
    }

    void TearDown() override
    {
        // Every child started here has ended before the device goes away.
        waitForReaped(startedChildren());
        Platform::resetNotifyForTesting();
        EngineTest::TearDown();
    }

    // A killall that only writes down the argument vector it was started with, argv[0]
    // included, and its environment: "[killall] [-9] [SpringBoard]" and an empty line per start.
    void installFakeKillall() const
    {
        auto target = std::filesystem::path(hostPath("/usr/bin/killall"));
        std::filesystem::create_directories(target.parent_path());
        std::filesystem::copy_file(std::string(KESTREL_BUILD_DIR) + "/bin/argvRecorder", target,
            std::filesystem::copy_options::overwrite_existing);
    }

    std::string readDeviceFile(std::string_view devicePath) const
    {
        std::ifstream stream(hostPath(devicePath));
        std::ostringstream contents;
        contents << stream.rdbuf();
        return contents.str();
    }

    static void post(std::string_view name)
    {
        ASSERT_TRUE(Platform::postNotification(name));
        Platform::drainNotifyDeliveries();
    }

    // Every spawn is announced before the child is started; a failed one is reported after.
    std::vector<std::string> spawns() const { return eventsStartingWith("spawn "); }
    std::vector<std::string> failedSpawns() const { return eventsStartingWith("spawn-failed "); }
    uint64_t startedChildren() const { return spawns().size() - failedSpawns().size(); }

    // Waits (10 s at most) until this many children started by the test have been reaped.
    bool waitForReaped(uint64_t children) const
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (Platform::ChildReaper::shared().reapedCount() < m_reapedBefore + children) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

private:
    uint64_t m_reapedBefore { 0 };
};

TEST_F(RestartListenerTest, ARestartAfterLaunchSpawnsKillallNineSpringBoardWithAnEmptyEnvironment)
{
    installFakeKillall();
    SpringBoardHost::finishLaunching();
    EXPECT_EQ(countEvents("launch finished"), 1u) << "the host's launch ran once";
    post(restartName);

    EXPECT_EQ(spawns(), std::vector<std::string> { killallSpawn });
    EXPECT_TRUE(failedSpawns().empty());
    ASSERT_TRUE(waitForReaped(1)) << "the child is reaped, not left a zombie";
    EXPECT_EQ(readDeviceFile("/killall-arguments"), killallVector) << "exactly these three, argv[0] included";
    EXPECT_EQ(readDeviceFile("/killall-environment"), "\n") << "no variable reaches the child";
}

TEST_F(RestartListenerTest, ARestartBeforeLaunchHasFinishedIsNeitherActedOnNorRemembered)
{
    installFakeKillall();
    post(restartName);
    SpringBoardHost::finishLaunching();
    Platform::drainNotifyDeliveries();
    EXPECT_TRUE(spawns().empty());

    post(restartName);
    EXPECT_EQ(spawns(), std::vector<std::string> { killallSpawn }) << "registered once launch finished";
}

TEST_F(RestartListenerTest, OnlyTheExactNameRestarts)
{
    installFakeKillall();
    SpringBoardHost::finishLaunching();
    for (auto name : { "com.plover.kestrel.Respring", "COM.PLOVER.KESTREL.RESPRING", "com.plover.kestrel.respring ",
             "com.plover.kestrel.respring2", "com.plover.kestrel.respr" })
        post(name);
    EXPECT_TRUE(spawns().empty());

    post(restartName);
    EXPECT_EQ(spawns(), std::vector<std::string> { killallSpawn });
}

TEST_F(RestartListenerTest, EachRestartStartsItsOwnKillall)
{
    installFakeKillall();
    SpringBoardHost::finishLaunching();
    ASSERT_TRUE(Platform::postNotification(restartName));
    ASSERT_TRUE(Platform::postNotification(restartName));
    Platform::drainNotifyDeliveries();
    EXPECT_EQ(spawns(), (std::vector<std::string> { killallSpawn, killallSpawn }));
    ASSERT_TRUE(waitForReaped(2));
    EXPECT_EQ(readDeviceFile("/killall-arguments"), killallVector + killallVector);
}

TEST_F(RestartListenerTest, WithoutKillallARestartFailsQuietlyAndALaterOneTriesAgain)
{
    SpringBoardHost::finishLaunching();
    post(restartName);
    post(restartName);
    EXPECT_EQ(spawns(), (std::vector<std::string> { killallSpawn, killallSpawn })) << "each request tries";
    auto failures = failedSpawns();
    ASSERT_EQ(failures.size(), 2u);
    for (auto& failure : failures)
        EXPECT_TRUE(failure.starts_with("spawn-failed /usr/bin/killall ")) << failure;
    EXPECT_TRUE(eventsStartingWith("log ").empty()) << "nothing is logged";

    installFakeKillall();
    post(restartName);
    EXPECT_EQ(spawns().size(), 3u);
    EXPECT_EQ(failedSpawns().size(), 2u) << "the third one started";
    ASSERT_TRUE(waitForReaped(1));
    EXPECT_EQ(readDeviceFile("/killall-arguments"), killallVector);
}

} // namespace
