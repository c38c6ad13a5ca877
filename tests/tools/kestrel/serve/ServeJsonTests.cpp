// Values from the page become words of the scenario language that read back as the same value.
#include "host/device/Words.h"
#include "tools/kestrel/scenario/CommandParser.h"
#include "tools/kestrel/serve/ServeJson.h"

#include <gtest/gtest.h>

using namespace Kestrel;
using nlohmann::json;

TEST(ServeJson, ValuesFromThePageReadBackAsTheSameScenarioValues)
{
    using Platform::Plist::Value;
    std::vector<std::pair<json, std::optional<Value>>> cases = {
        { true, Value::boolean(true) },
        { false, Value::boolean(false) },
        { 3, Value::integer(3) },
        { -7, Value::integer(-7) },
        { 2.0, Value::real(2.0) },
        { 0.1, Value::real(0.1) },
        { 1e300, Value::real(1e300) },
        { "yes", Value::boolean(true) }, // a string is a word as typed
        { "2.5", Value::real(2.5) },
        { "two words", Value::string("two words") },
        { "a \"quoted\" \\ # word", Value::string("a \"quoted\" \\ # word") },
        { "", Value::string("") },
        { nullptr, std::nullopt },
    };
    for (auto& [given, expected] : cases) {
        auto word = scenarioWord(given);
        ASSERT_TRUE(word) << given.dump();
        auto words = Device::splitWords(*word);
        ASSERT_TRUE(words && words->size() == 1) << *word << " is one word";
        auto value = parseValue(*word);
        ASSERT_TRUE(value) << *word << ": " << value.error();
        EXPECT_EQ(value->has_value(), expected.has_value()) << *word;
        if (expected && *value) {
            EXPECT_EQ(**value, *expected) << *word;
            EXPECT_EQ((*value)->kind(), expected->kind()) << *word << " keeps its kind";
        }
    }
    for (auto refused :
        { json::array({ 1 }), json::object({ { "a", 1 } }), json("two\nlines"), json(uint64_t(1) << 63) })
        EXPECT_FALSE(scenarioWord(refused)) << refused.dump();
    EXPECT_EQ(jsonLine(json("\xff")), "\"\xef\xbf\xbd\"\n") << "bytes that are no UTF-8 still make one line of JSON";
}

// The page reads the state by the words the server sends: they must be the words the state is
// written in, for a state where each fact holds and one where none does.
TEST(ServeJson, ThePagesWordsAreTheStatesOwn)
{
    auto words = wordsJson();
    for (bool holds : { true, false }) {
        SessionState state;
        state.springBoard = SessionState::SpringBoard::Running;
        state.device = Driver::DeviceState {};
        state.device->deviceLocked = state.device->lockscreenShown = state.device->audioPlaying
            = state.device->companionInstalled = holds;
        auto json = stateJson(state);
        for (auto fact : { "device", "lockscreen", "audio", "companion" })
            EXPECT_EQ(json.at(fact), words.at(fact).at(holds ? "yes" : "no")) << fact;
        EXPECT_EQ(json.at("springboard"), words.at("springboard").at("running"));
    }
    EXPECT_EQ(stateJson(SessionState {}).at("springboard"), words.at("springboard").at("notBooted"));
    SessionState restarting;
    restarting.springBoard = SessionState::SpringBoard::NotRunning;
    EXPECT_EQ(stateJson(restarting).at("springboard"), words.at("springboard").at("notRunning"));
}
