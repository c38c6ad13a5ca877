#include "host/device/Words.h"
#include "support/WordTables.h"
#include "tools/kestrel/scenario/CommandParser.h"
#include "tools/kestrel/scenario/DeviceSession.h"

#include <climits>
#include <gtest/gtest.h>
#include <set>

using namespace Kestrel;

namespace {

std::string errorOf(std::string_view text)
{
    auto scenario = parseScenario(text);
    return scenario ? std::string() : scenario.error();
}

TEST(ScenarioValues, EachWordHasOneKind)
{
    EXPECT_TRUE((*parseValue("yes"))->isBoolean());
    EXPECT_EQ((*parseValue("-3"))->integerValue(), -3);
    EXPECT_TRUE((*parseValue("0.5"))->isReal());
    EXPECT_FALSE(*parseValue("nil"));
    EXPECT_EQ(*(*parseValue("\"a \\\"b\\\"\""))->asString(), "a \"b\"") << "escaped quotes inside text";
    EXPECT_FALSE(parseValue("abc")) << "bare words are not values";
    EXPECT_FALSE(parseValue("1.2.3"));
    EXPECT_FALSE(parseValue("inf"));
    auto tooBig = parseValue("99999999999999999999");
    EXPECT_FALSE(tooBig) << "a whole number too big for 64 bits is not a real";
    EXPECT_NE(tooBig.error().find("64 bits"), std::string::npos);
}

TEST(ScenarioParsing, ABadLineIsReportedWithItsNumberBeforeAnythingRuns)
{
    EXPECT_EQ(errorOf("boot\n\n# fine\nface smile\n"),
        "4: usage: face match | face fail | face event N | face next match|fail");
    EXPECT_EQ(errorOf("frobnicate\n"), "1: unknown command frobnicate");
    EXPECT_EQ(errorOf("settings Enabled=maybe\n"), "1: bad value maybe (use yes, no, a number, nil or \"text\")");
    EXPECT_EQ(errorOf("boot\nboot\n"), "2: the device is already booted");
    EXPECT_EQ(errorOf("boot\nexpect log \"" + std::string(70000, 'x') + "\"\n"), "2: a line longer than 65536 bytes");
}

TEST(ScenarioParsing, SetUpComesBeforeBootAndDeviceCommandsAfterIt)
{
    EXPECT_EQ(errorOf("boot\nios 12.4\n"), "2: ios sets up the device and must come before boot");
    EXPECT_EQ(errorOf("face match\nboot\n"), "1: face needs a booted device (add boot first)");
    EXPECT_EQ(errorOf("ios 9.3\n"), "1: iOS 9.3 is older than any release the system runs on (10.0)");
    EXPECT_EQ(errorOf("settings A=1\nrespring\npost x\nwait 1\nboot launching\nfinish-launching\n"), "")
        << "settings, restarts and time need no SpringBoard";
}

TEST(ScenarioParsing, ChecksAreParsedAsWritten)
{
    EXPECT_EQ(errorOf("boot\nexpect attempt mesa=yes passcode=\"12 34\" finish=no result=yes\n"), "");
    EXPECT_EQ(errorOf("boot\nexpect attempt passcode=nil mesa=yes\n"), "2: missing finish=");
    EXPECT_EQ(errorOf("boot\nattempt passcode=nil mesa=yes finish=no result=yes\n"), "2: unknown field result")
        << "an attempt has no result to give";
    EXPECT_EQ(errorOf("expect setting DelayTime absent\nexpect setting DelayTime=0.5\n"), "");
    EXPECT_EQ(errorOf("boot\nexpect biometric screen-sideways\n"),
        "2: usage: expect biometric set-authenticated=no|screen-off|screen-on");
    EXPECT_EQ(errorOf("wait -1\n"), "1: usage: wait SECONDS (a number from 0 up)");
}

TEST(ScenarioValues, RealsAreShownExactly)
{
    EXPECT_EQ(Device::realText(3), "3.0");
    EXPECT_EQ(Device::realText(0.1), "0.1");
    EXPECT_EQ(Device::realText(3.0000001), "3.0000001");
}

} // namespace

namespace {

using Platform::Plist::Value;

// Commands of every kind, with the values that are hardest to write back: text that needs
// quotes or reads as nil, yes or a number, nil itself, negative and extreme numbers, reals
// that need every digit, waits below a millisecond.
std::vector<Command> awkwardCommands()
{
    const std::string awkward = "a \"b\" \\ #c=d";
    using Kind = Driver::BiometricCall::Kind;
    using Outcome = Driver::Decision::Outcome;
    using Reason = Driver::Decision::Reason;
    return {
        SetIos { { 12, 4, 1 } },
        SetCoreFoundation { 1665.15 },
        SetCoreFoundation { -0.1 },
        SetNotificationsRoute { Driver::NotificationRoute::None },
        SetCompanion { true },
        SetProcessName { "Spring Board" },
        SettingsWrite { { { "Enabled", Value::boolean(false) }, { "two words", Value::string("3") },
            { "DelayTime", Value::real(0.1) }, { "Count", Value::integer(INT64_MIN) }, { "Gone", std::nullopt },
            { "Text", Value::string(awkward) } } },
        SettingsRemove { { "Enabled", "nil", awkward } },
        SettingsDelete {},
        SettingsCorrupt {},
        PackageInstall {},
        PackageInstall { "/tmp/a b.deb" },
        PackageRemove { false },
        PackageRemove { true },
        Boot { true },
        Boot { false },
        Driver::FaceMatch {},
        Driver::FaceFail {},
        Driver::FaceEvent { -10 },
        Driver::FaceNext { true },
        Driver::FaceNext { false },
        Driver::Attempt { std::nullopt, true, false },
        Driver::Attempt { awkward, false, true },
        Driver::Attempt { "nil", true, true },
        Driver::Touch {},
        Driver::Aod { Driver::AodAction::DoubleTap },
        Driver::QuickActionsAppear {},
        Driver::Flashlight { INT64_MIN },
        Driver::Audio { true },
        Driver::Audio { false },
        Driver::NotificationAdd { std::nullopt },
        Driver::NotificationAdd { "com.apple.MobileSMS" },
        Driver::NotificationAdd { "yes" },
        Driver::NotificationAdd { "3" },
        Driver::NotificationAdd { "nil" },
        Driver::NotificationAdd { awkward },
        Driver::NotificationClear {},
        Driver::NotificationNewController {},
        Driver::HostAttemptResult { false },
        Driver::HostUILocked { true },
        Driver::Lock {},
        Driver::FinishLaunching {},
        Respring {},
        Post { "com.plover.kestrel.respring" },
        Post { awkward },
        PaneSet { "DelayTime", "2.5" },
        PaneSet { awkward, "\"x y\"" },
        PaneTap { "respring" },
        Wait { 1'500'000'000 },
        Wait { 1 },
        Wait { 0 },
        PrintState {},
        ExpectLockscreen { {}, false },
        ExpectDevice { {}, true },
        ExpectAttempt { {}, awkward, true, true, false },
        ExpectAttempt { {}, std::nullopt, false, false, std::nullopt },
        ExpectNoAttempt {},
        ExpectBiometric { {}, Kind::SetAuthenticatedNo },
        ExpectNoBiometric {},
        ExpectDecision { {}, Outcome::Blocked, Reason::Music },
        ExpectDecision { {}, Outcome::UnlockNow, std::nullopt },
        ExpectDecision { {}, Outcome::PassThrough, Reason::None },
        ExpectRespring {},
        ExpectNoRespring {},
        ExpectLog { {}, awkward, true },
        ExpectLog { {}, "nil", false },
        ExpectPosted { {}, "com.example.posted" },
        ExpectPackage { {}, "1.0-1" },
        ExpectPackage {},
        ExpectSetting { {}, "Enabled", std::nullopt },
        ExpectSetting { {}, "two words", Value::string("yes") },
        ExpectSetting { {}, "DelayTime", Value::real(2.5) },
    };
}

// Set-up comes before boot; everything else is written for a booted device.
bool beforeBoot(const Command& command)
{
    return std::visit(
        [](const auto& alternative) {
            using T = std::decay_t<decltype(alternative)>;
            return std::is_same_v<T,
                       SetIos> || std::is_same_v<T, SetCoreFoundation> || std::is_same_v<T, SetNotificationsRoute> || std::is_same_v<T, SetCompanion> || std::is_same_v<T, SetProcessName> || std::is_same_v<T, Boot>;
        },
        command);
}

// The device's commands are the driver's messages: the same when they travel the same.
bool sameCommand(const Command& a, const Command& b)
{
    if (a.index() != b.index())
        return false;
    return std::visit(
        [&](const auto& alternative) {
            using T = std::decay_t<decltype(alternative)>;
            const auto& other = std::get<T>(b);
            if constexpr (isDeviceCommand<T>)
                return Driver::encode(Driver::toRequest(alternative)) == Driver::encode(Driver::toRequest(other));
            else
                return alternative == other;
        },
        a);
}

TEST(ScenarioDescription, EveryCommandReadsBackAsItself)
{
    std::set<size_t> kinds;
    for (auto& command : awkwardCommands()) {
        kinds.insert(command.index());
        auto line = describe(command);
        ScenarioPhase phase { !beforeBoot(command) };
        auto parsed = parseCommand(line, phase);
        ASSERT_TRUE(parsed && *parsed) << line << ": " << (parsed ? "blank" : parsed.error());
        EXPECT_TRUE(sameCommand(**parsed, command)) << line << " reads back as " << describe(**parsed);
    }
    EXPECT_EQ(kinds.size(), std::variant_size_v<Command>) << "a command of every kind";
    EXPECT_EQ(describe(Wait { 2'000'000'000 }), "wait 2.000") << "a wait is written as the timeline writes seconds";
    EXPECT_EQ(describe(ExpectDecision { {}, Driver::Decision::Outcome::Blocked, Driver::Decision::Reason::Music }),
        "expect decision blocked reason=music");
}

TEST(ScenarioWords, EachWordNamesOneValueAndReadsBack)
{
    using TestSupport::expectEveryWordReadsBack;
    expectEveryWordReadsBack<Driver::NotificationRoute>();
    expectEveryWordReadsBack<Driver::AodAction>();
    expectEveryWordReadsBack<Driver::BiometricCall::Kind>();
    expectEveryWordReadsBack<Driver::Decision::Outcome>();
    expectEveryWordReadsBack<Driver::Decision::Reason>();
    expectEveryWordReadsBack<Driver::DelayedUnlock::Result>();
    expectEveryWordReadsBack<SessionState::SpringBoard>();
    for (auto& fact :
        { Driver::Facts::lockscreen, Driver::Facts::device, Driver::Facts::audio, Driver::Facts::companion }) {
        EXPECT_STRNE(fact.words.yes, fact.words.no) << fact.subject;
        for (bool holds : { true, false })
            EXPECT_EQ(fact.readLine(fact.line(holds)), holds) << fact.line(holds);
        EXPECT_FALSE(fact.readLine(std::string(fact.subject) + fact.words.yes)) << "the subject is a word of its own";
        EXPECT_FALSE(fact.readLine(fact.line(true) + " more")) << "a line says one state";
    }
}

} // namespace
