// A session recorded as a scenario: commands in order, waits for the time between them,
// checks for what the device did, and the set-up of the device it ran on.
#include "host/device/DeviceLayout.h"
#include "host/device/PackageManager.h"
#include "platform/plist/PropertyList.h"
#include "tools/kestrel/scenario/CommandParser.h"
#include "tools/kestrel/serve/SessionRecording.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace Kestrel;

namespace {

constexpr int64_t millisecond = 1'000'000;

struct Builder {
    SessionRecord record;
    uint64_t sequence { 1 };

    void event(int64_t stamp, Driver::Event event) { record.events.push_back({ stamp, std::move(event), sequence++ }); }
    void command(int64_t start, int64_t end, std::string text, std::vector<Driver::Event> events = {})
    {
        DeviceSession::AcceptedCommand accepted;
        accepted.stamp = start;
        accepted.finished = end;
        accepted.text = std::move(text);
        accepted.firstEvent = sequence;
        for (auto& caused : events)
            event(end, caused);
        accepted.endEvent = sequence;
        record.commands.push_back(std::move(accepted));
    }
};

Driver::AttemptCall attempt(bool finish) { return { std::nullopt, true, finish, true }; }

std::string body(const std::string& scenario)
{
    // Without the two comment lines at the top.
    size_t start = scenario.find('\n', scenario.find('\n') + 1) + 1;
    return scenario.substr(start);
}

TEST(SessionRecording, CommandsWaitsAndChecksInTheOrderTheyHappened)
{
    Builder session;
    session.record.setUp = { "settings delete" };
    session.command(0, 12 * millisecond, "boot", { Driver::Note { "springboard started generation=1" } });
    session.command(1500 * millisecond, 1501 * millisecond, "settings DelayBeforeUnlock=yes DelayTime=2");
    session.command(3000 * millisecond, 3002 * millisecond, "face match",
        { attempt(false),
            Driver::Decision { Driver::Decision::Outcome::DelayScheduled, Driver::Decision::Reason::None } });
    // The delayed unlock came between two commands: its checks belong after the wait that covers it.
    session.event(5002 * millisecond,
        Driver::Decision { Driver::Decision::Outcome::PassThrough, Driver::Decision::Reason::ReSend });
    session.event(5002 * millisecond, attempt(true));
    session.command(6000 * millisecond, 6000 * millisecond + 400'000, "touch", { Driver::Note { "hit-test" } });
    // After the last command: a restart, covered by a last wait.
    session.event(6250 * millisecond, Driver::Note { "springboard started generation=2" });
    Driver::DeviceState unlocked;
    unlocked.deviceLocked = false;
    unlocked.lockscreenShown = false;
    session.record.finalState = SessionState { SessionState::SpringBoard::Running, unlocked, 2 };

    EXPECT_EQ(body(recordScenario(session.record)),
        "settings delete\n"
        "boot\n"
        "wait 1.488\n"
        "settings DelayBeforeUnlock=yes DelayTime=2\n"
        "wait 1.499\n"
        "face match\n"
        "expect attempt passcode=nil mesa=yes finish=no result=yes\n"
        "expect decision delay-scheduled\n"
        "wait 2.998\n"
        "expect decision pass-through reason=re-send\n"
        "expect attempt passcode=nil mesa=yes finish=yes result=yes\n"
        "touch\n"
        "wait 0.350\n"
        "expect lockscreen dismissed\n"
        "expect device unlocked\n"
        "expect no-attempt\n");

    // In virtual time the session's own waits are the only time there is.
    session.record.realTime = false;
    session.record.finalState = SessionState { SessionState::SpringBoard::NotRunning, std::nullopt, 2 };
    auto scenario = recordScenario(session.record);
    EXPECT_EQ(body(scenario),
        "settings delete\nboot\nsettings DelayBeforeUnlock=yes DelayTime=2\nface match\n"
        "expect attempt passcode=nil mesa=yes finish=no result=yes\nexpect decision delay-scheduled\n"
        "expect decision pass-through reason=re-send\n"
        "expect attempt passcode=nil mesa=yes finish=yes result=yes\ntouch\n");
    auto parsed = parseScenario(scenario);
    EXPECT_TRUE(parsed) << "the recording parses as a scenario: " << parsed.error();
}

TEST(SessionRecording, TheDevicesSetUpIsWhatAFreshDeviceNeeds)
{
    char pattern[] = "/tmp/kestrel-recording-test.XXXXXX";
    ASSERT_TRUE(::mkdtemp(pattern));
    std::string root = std::filesystem::canonical(pattern).string();
    Device::Artifacts artifacts { KESTREL_BUILD_DIR "/bin", KESTREL_BUILD_DIR "/lib", KESTREL_BUILD_DIR "/packages" };
    ASSERT_TRUE(Device::initDevice(root, {}, artifacts).ok());
    EXPECT_EQ(deviceSetUp(root), std::vector<std::string> { "settings delete" }) << "a fresh device needs nothing";

    ASSERT_TRUE(Device::setCompanionInstalled(root, true, artifacts).ok());
    ASSERT_TRUE(Device::PackageManager(root).remove(Device::PackageNames::kestrel, false).ok());
    std::string settings = root + Device::Paths::settingsFile;
    using Platform::Plist::Value;
    Platform::Plist::Dictionary entries;
    entries.set("Enabled", Value::boolean(false));
    entries.set("DelayTime", Value::real(0.5));
    entries.set("Count", Value::integer(3));
    entries.set("Name", Value::string("two words"));
    entries.set("List", Value(Platform::Plist::Array { Value::integer(1) }));
    entries.set("Path", Value::string("say \"hi\" c:\\"));
    entries.set("Poem", Value::string("two\nlines"));
    entries.set("two\nlines", Value::integer(1));
    ASSERT_TRUE(Platform::Plist::writeFileAtomically(settings, Value(entries)));
    auto setUp = deviceSetUp(root);
    EXPECT_EQ(setUp,
        (std::vector<std::string> { "companion installed", "package remove", "settings delete", "settings Count=3",
            "settings DelayTime=0.5", "settings Enabled=no",
            "# the settings file also held List (array), which a scenario cannot write", "settings Name=\"two words\"",
            "settings Path=\"say \\\"hi\\\" c:\\\\\"",
            "# the settings file also held Poem (string), which a scenario cannot write",
            "# the settings file also held a key of several lines (integer), which a scenario cannot write" }));
    std::string script;
    for (auto& line : setUp)
        script += line + "\n";
    auto parsed = parseScenario(script + "boot\n");
    ASSERT_TRUE(parsed) << "the set-up reads back as a scenario: " << parsed.error();
    ScenarioPhase phase;
    auto path = parseCommand(setUp[8], phase);
    ASSERT_TRUE(path && *path && std::holds_alternative<SettingsWrite>(**path)) << setUp[8];
    auto& written = std::get<SettingsWrite>(**path).entries.at(0);
    EXPECT_EQ(written.first, "Path");
    EXPECT_EQ(*written.second->asString(), "say \"hi\" c:\\") << "the text as the file held it";

    std::ofstream(settings, std::ios::trunc) << "not a property list";
    EXPECT_EQ(deviceSetUp(root).back(), "settings corrupt");
    std::filesystem::remove_all(root);
}

} // namespace
