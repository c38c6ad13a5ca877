#include "host/device/Words.h"
#include "tools/kestrel/scenario/CommandParser.h"

#include <gtest/gtest.h>

using namespace Kestrel;

namespace {

std::string errorOf(std::string_view text)
{
    std::string error;
    auto scenario = parseScenario(text, error);
    return scenario ? std::string() : error;
}

TEST(ScenarioValues, EachWordHasOneKind)
{
    std::string error;
    EXPECT_TRUE((*parseValue("yes", error))->isBoolean());
    EXPECT_EQ((*parseValue("-3", error))->integerValue(), -3);
    EXPECT_TRUE((*parseValue("0.5", error))->isReal());
    EXPECT_FALSE(*parseValue("nil", error));
    EXPECT_EQ(*(*parseValue("\"a \\\"b\\\"\"", error))->asString(), "a \"b\"") << "escaped quotes inside text";
    EXPECT_FALSE(parseValue("abc", error)) << "bare words are not values";
    EXPECT_FALSE(parseValue("1.2.3", error));
    EXPECT_FALSE(parseValue("inf", error));
    EXPECT_FALSE(parseValue("99999999999999999999", error)) << "a whole number too big for 64 bits is not a real";
    EXPECT_NE(error.find("64 bits"), std::string::npos);
}

TEST(ScenarioParsing, ABadLineIsReportedWithItsNumberBeforeAnythingRuns)
{
    EXPECT_EQ(errorOf("boot\n\n# fine\nface smile\n"), "4: usage: face match | face fail | face event N | face next match|fail");
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
    EXPECT_EQ(errorOf("boot\nexpect biometric screen-sideways\n"), "2: usage: expect biometric set-authenticated=no|screen-off|screen-on");
    EXPECT_EQ(errorOf("wait -1\n"), "1: usage: wait SECONDS (a number from 0 up)");
}

TEST(ScenarioValues, RealsAreShownExactly)
{
    EXPECT_EQ(Device::realText(3), "3.0");
    EXPECT_EQ(Device::realText(0.1), "0.1");
    EXPECT_EQ(Device::realText(3.0000001), "3.0000001");
}

} // namespace
