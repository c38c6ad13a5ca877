// The device session at unit level: what its drivers rely on. Every event a command
// causes reaches the listeners before the command returns; a device has one session;
// commands from several threads run one at a time.
#include "host/device/DeviceLayout.h"
#include "tools/kestrel/scenario/CommandParser.h"
#include "tools/kestrel/scenario/DeviceSession.h"

#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace Kestrel;

namespace {

class DeviceSessionTest : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/kestrel-session-test.XXXXXX";
        ASSERT_TRUE(::mkdtemp(pattern));
        m_root = std::filesystem::canonical(pattern).string();
        Device::Artifacts artifacts { KESTREL_BUILD_DIR "/bin", KESTREL_BUILD_DIR "/lib",
            KESTREL_BUILD_DIR "/packages" };
        ASSERT_TRUE(Device::initDevice(m_root, {}, artifacts).ok());
    }
    void TearDown() override { std::filesystem::remove_all(m_root); }

    static Command command(std::string_view line)
    {
        ScenarioPhase booted { true };
        auto parsed = parseCommand(line, booted);
        EXPECT_TRUE(parsed && *parsed) << (parsed ? "blank" : parsed.error());
        return **parsed;
    }

    std::string m_root;
};

TEST_F(DeviceSessionTest, EventsArriveBeforeTheAnswerAndTheDeviceHasOneSession)
{
    std::string error;
    auto opened = DeviceSession::open(m_root, {});
    ASSERT_TRUE(opened) << opened.error();
    auto& session = *opened;
    auto second = DeviceSession::open(m_root, {});
    EXPECT_FALSE(second) << "a second session on the same device";
    EXPECT_NE(second.error().find(std::to_string(::getpid())), std::string::npos) << second.error();

    std::atomic<bool> returned { false };
    std::vector<std::string> heard;
    bool heardLate = false;
    int subscription = session->subscribe([&](const SessionEvent& event) {
        heard.push_back(Driver::timelineText(event.event));
        heardLate = heardLate || returned;
    });
    EXPECT_EQ(session->state().springBoard, SessionState::SpringBoard::NotBooted);
    ASSERT_TRUE(session->run(Boot {}).outcome.ok());

    auto result = session->run(command("face match"));
    returned = true;
    ASSERT_TRUE(result.outcome.ok()) << result.outcome.error();
    ASSERT_EQ(result.events.size(), 4u);
    auto* attempt = std::get_if<Driver::AttemptCall>(&result.events[0].event);
    ASSERT_TRUE(attempt) << "the attempt arrives typed";
    EXPECT_TRUE(attempt->mesa && attempt->finish && attempt->result);
    auto* decision = std::get_if<Driver::Decision>(&result.events[3].event);
    ASSERT_TRUE(decision) << "the engine's report ends the decision";
    EXPECT_EQ(decision->outcome, Driver::Decision::Outcome::UnlockNow);
    EXPECT_EQ(heard.back(), "decision outcome=unlock-now");
    EXPECT_FALSE(heardLate) << "every event of the command reached the listener before it returned";
    auto accepted = session->acceptedCommands();
    ASSERT_EQ(accepted.size(), 2u);
    EXPECT_EQ(accepted.back().firstEvent, result.events.front().sequence)
        << "the record names the events the command caused";
    EXPECT_EQ(accepted.back().endEvent, result.events.back().sequence + 1);
    EXPECT_GE(accepted.back().finished, accepted.back().stamp);

    auto state = session->state();
    ASSERT_EQ(state.springBoard, SessionState::SpringBoard::Running);
    EXPECT_FALSE(state.device->lockscreenShown);
    EXPECT_EQ(state.generation, 1);
    EXPECT_TRUE(describeState(state).starts_with("state device=unlocked lockscreen=dismissed launched=yes "));

    auto check = session->run(command("expect lockscreen shown"));
    EXPECT_FALSE(check.outcome.ok()) << "checks are not the session's to run";
    for (Command lateSetUp : { Command(Boot {}), Command(SetCompanion { true }), Command(SetIos {}) }) {
        auto late = session->run(lateSetUp);
        EXPECT_EQ(late.outcome.error(), "the device is already booted; set-up comes before boot")
            << "whatever the driver's parser let by";
    }
    EXPECT_EQ(session->state().generation, 1) << "the booted SpringBoard is the same";
    auto refused = session->run(command("wait 1"));
    EXPECT_TRUE(refused.outcome.ok());
    session->unsubscribe(subscription);
    session->shutdown();
    EXPECT_EQ(session->state().springBoard, SessionState::SpringBoard::NotRunning);
}

TEST_F(DeviceSessionTest, CommandsFromSeveralThreadsRunOneAtATime)
{
    std::string error;
    auto opened = DeviceSession::open(m_root, {});
    ASSERT_TRUE(opened) << opened.error();
    auto& session = *opened;
    ASSERT_TRUE(session->run(Boot {}).outcome.ok());
    std::atomic<int> touches { 0 };
    session->subscribe([&](const SessionEvent& event) { touches += Driver::timelineText(event.event) == "hit-test"; });
    std::vector<std::thread> threads;
    std::atomic<int> failures { 0 };
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                auto result = session->run(command("touch"));
                failures += !result.outcome.ok() || result.events.size() != 1;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0) << "each touch's answer carries exactly its own event";
    EXPECT_EQ(touches, 100);
}

} // namespace
