// The settings store: stored values over defaults, the two readings, a fresh read at every
// lookup, unreadable files treated as empty without a word, and the one log line.
#include "EngineTestSupport.h"

#include "engine/KSTPreferencesManager.h"
#include "platform/foundation/FoundationValue.h"
#include "platform/fs/DeviceRoot.h"
#include "platform/log/SystemLog.h"
#include "platform/plist/PropertyList.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <future>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace EngineTesting;
using Platform::Plist::Dictionary;
using Platform::Plist::Kind;

namespace {

// What the store hands over, as a property-list value to compare; none for nil.
std::optional<Value> valueOf(id object) { return Platform::propertyListValue(object); }
std::optional<Value> getPrefForKey(std::string_view key)
{
    return valueOf(KSTPreferencesManager::getPrefForKey(Platform::makeString(key)));
}
std::optional<Dictionary> getPrefs()
{
    auto prefs = valueOf(KSTPreferencesManager::getPrefs());
    if (!prefs)
        return std::nullopt;
    EXPECT_TRUE(prefs->asDictionary()) << "the file's root comes back as a dictionary";
    return prefs->asDictionary() ? std::optional<Dictionary>(*prefs->asDictionary()) : std::nullopt;
}

const std::vector<std::string> booleanKeys = { "Enabled", "DisableIfMusic", "DisableIfFlashlight",
    "DisableIfNotifications", "AutoRetry", "DelayBeforeUnlock", "BlockForTouch" };

class SettingsStoreTest : public EngineTest {
protected:
    static Value lookup(std::string_view key)
    {
        auto value = getPrefForKey(key);
        if (!value)
            ADD_FAILURE() << "no value for " << key;
        return value.value_or(Value());
    }

    // Every key yields its default, and nothing went to the system log.
    void expectDefaultsAndNoLog()
    {
        for (auto& key : booleanKeys)
            EXPECT_EQ(lookup(key).boolValue(), key == "Enabled" || key == "DisableIfNotifications") << key;
        EXPECT_EQ(lookup("RetryInterval").floatValue(), 1.0f);
        EXPECT_EQ(lookup("DelayTime").floatValue(), 2.0f);
        EXPECT_TRUE(Platform::readSystemLog().empty());
    }

    std::string settingsHostPath() const { return hostPath(settingsPath); }
};

TEST_F(SettingsStoreTest, WithoutAFileEveryKeyYieldsItsDefaultAndNothingIsLogged)
{
    expectDefaultsAndNoLog();
    auto prefs = getPrefs();
    ASSERT_TRUE(prefs);
    EXPECT_TRUE(prefs->isEmpty()) << "a missing file reads as an empty dictionary";
}

TEST_F(SettingsStoreTest, AStoredFalseBeatsADefaultOfTrue)
{
    writeSettings({ { "Enabled", Value::boolean(false) }, { "DisableIfNotifications", Value::integer(0) } });
    EXPECT_FALSE(lookup("Enabled").boolValue());
    EXPECT_FALSE(lookup("DisableIfNotifications").boolValue());
    EXPECT_EQ(lookup("DelayTime").floatValue(), 2.0f) << "keys the file lacks keep their defaults";
    EXPECT_FALSE(lookup("DisableIfMusic").boolValue());
}

TEST_F(SettingsStoreTest, AStoredValueComesBackAsStoredWhateverItsKind)
{
    writeSettings({ { "DelayTime", Value::integer(3) }, { "RetryInterval", Value::boolean(true) },
        { "BlockForTouch", Value::string("yes") } });
    auto delay = lookup("DelayTime");
    EXPECT_EQ(delay.kind(), Kind::Integer);
    EXPECT_EQ(delay.floatValue(), 3.0f) << "an integer reads as that many seconds";
    EXPECT_EQ(lookup("RetryInterval").floatValue(), 1.0f) << "true reads as 1.0";
    EXPECT_EQ(lookup("BlockForTouch").kind(), Kind::String) << "no check of the kind, and no default behind it";
}

TEST_F(SettingsStoreTest, BooleanReadingsOfBooleansAndIntegers)
{
    const std::pair<Value, bool> cases[] = {
        { Value::boolean(true), true },
        { Value::integer(1), true },
        { Value::integer(7), true },
        { Value::integer(-1), true },
        { Value::boolean(false), false },
        { Value::integer(0), false },
    };
    for (auto& [stored, reading] : cases) {
        writeSettings({ { "DisableIfMusic", stored }, { "Enabled", stored } });
        EXPECT_EQ(lookup("DisableIfMusic").boolValue(), reading) << stored.integerValue();
        EXPECT_EQ(lookup("Enabled").boolValue(), reading) << stored.integerValue();
    }
}

TEST_F(SettingsStoreTest, EveryLookupReadsTheFileAfresh)
{
    writeSettings({ { "Enabled", Value::boolean(true) } });
    EXPECT_TRUE(lookup("Enabled").boolValue());
    writeSettings({ { "Enabled", Value::boolean(false) } });
    EXPECT_FALSE(lookup("Enabled").boolValue()) << "the replaced file is read";
    std::filesystem::remove(settingsHostPath());
    EXPECT_TRUE(lookup("Enabled").boolValue()) << "a removed file gives the default again";
}

TEST_F(SettingsStoreTest, KeysAreComparedExactly)
{
    writeSettings({ { "enabled", Value::boolean(false) }, { "ENABLED", Value::boolean(false) } });
    EXPECT_TRUE(lookup("Enabled").boolValue());
    EXPECT_FALSE(lookup("enabled").boolValue()) << "the file's own keys are still found as written";
}

TEST_F(SettingsStoreTest, TheBinaryFormIsReadToo)
{
    // {"DelayTime": 0.25, "Enabled": false} in the binary form.
    static const unsigned char binary[] = { 0x62, 0x70, 0x6c, 0x69, 0x73, 0x74, 0x30, 0x30, 0xd2, 0x01, 0x02, 0x03,
        0x04, 0x59, 0x44, 0x65, 0x6c, 0x61, 0x79, 0x54, 0x69, 0x6d, 0x65, 0x57, 0x45, 0x6e, 0x61, 0x62, 0x6c, 0x65,
        0x64, 0x23, 0x3f, 0xd0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x08, 0x0d, 0x17, 0x1f, 0x28, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x29 };
    writeFile(settingsPath, std::string_view(reinterpret_cast<const char*>(binary), sizeof(binary)));
    EXPECT_FALSE(lookup("Enabled").boolValue());
    EXPECT_EQ(lookup("DelayTime").floatValue(), 0.25f);
    EXPECT_TRUE(Platform::readSystemLog().empty());
}

TEST_F(SettingsStoreTest, UnreadableFilesReadAsHoldingNothingWithoutAWord)
{
    const std::pair<const char*, std::string> files[] = {
        { "corrupt", "this is no property list" },
        { "empty", "" },
        { "truncated XML", "<?xml version=\"1.0\"?><plist><dict><key>Enabled</key><false/>" },
        { "array root", "<plist version=\"1.0\"><array><false/></array></plist>" },
        { "boolean root", "<plist version=\"1.0\"><false/></plist>" },
        { "truncated binary", "bplist00\xd1\x01\x02" },
    };
    for (auto& [what, contents] : files) {
        SCOPED_TRACE(what);
        writeFile(settingsPath, contents);
        expectDefaultsAndNoLog();
        EXPECT_FALSE(getPrefs()) << "a file that is there but unreadable gives none";
    }
}

TEST_F(SettingsStoreTest, ADirectoryAtThePathReadsAsHoldingNothing)
{
    std::filesystem::create_directories(settingsHostPath());
    expectDefaultsAndNoLog();
    EXPECT_FALSE(getPrefs());
}

TEST_F(SettingsStoreTest, AFifoAtThePathDoesNotHangTheReader)
{
    std::filesystem::create_directories(std::filesystem::path(settingsHostPath()).parent_path());
    ASSERT_EQ(::mkfifo(settingsHostPath().c_str(), 0644), 0);
    // On its own thread, so that a reader stuck waiting for a writer fails this test
    // instead of stopping the run (the stuck thread is left behind).
    auto result = std::make_shared<std::promise<bool>>();
    auto done = result->get_future();
    std::thread([result] {
        ObjC::AutoreleasePool pool;
        result->set_value(getPrefForKey("Enabled")->boolValue());
    }).detach();
    if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "the lookup blocked on the FIFO";
        return;
    }
    EXPECT_TRUE(done.get()) << "the default";
    EXPECT_FALSE(getPrefs());
    EXPECT_TRUE(Platform::readSystemLog().empty());
}

TEST_F(SettingsStoreTest, AKeyNeitherStoredNorDefaultedLogsOneLineAndGivesNoValue)
{
    EXPECT_FALSE(getPrefForKey("Foo"));
    auto log = Platform::readSystemLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(log[0].ends_with(": PloverDev - Preference Foo not found.")) << log[0];

    writeSettings({ { "Foo", Value::integer(5) } });
    auto stored = getPrefForKey("Foo");
    ASSERT_TRUE(stored) << "a key outside the table is still read from the file";
    EXPECT_EQ(stored->integerValue(), 5);
    EXPECT_EQ(Platform::readSystemLog().size(), 1u) << "and logs nothing";
}

TEST_F(SettingsStoreTest, GetPrefsHandsBackTheWholeFile)
{
    writeSettings({ { "Enabled", Value::boolean(false) }, { "twitter", Value::string("x") } });
    auto prefs = getPrefs();
    ASSERT_TRUE(prefs);
    EXPECT_EQ(prefs->size(), 2u);
    ASSERT_TRUE(prefs->find("twitter"));
    EXPECT_EQ(*prefs->find("twitter")->asString(), "x");
}

TEST_F(SettingsStoreTest, SavePrefsReplacesTheFileAtomicallyInTheXmlForm)
{
    writeSettings({ { "Old", Value::integer(1) } });
    struct stat before;
    ASSERT_EQ(::stat(settingsHostPath().c_str(), &before), 0);

    Dictionary saved;
    saved.set("Enabled", Value::boolean(false));
    saved.set("DelayTime", Value::real(0.5));
    KSTPreferencesManager::savePrefs(Platform::foundationObject(Value(saved)));

    auto file = Platform::Plist::readFile(settingsHostPath());
    ASSERT_TRUE(file.ok()) << file.reason;
    EXPECT_EQ(file.value, Value(saved)) << "the whole content, the old key gone";
    struct stat after;
    ASSERT_EQ(::stat(settingsHostPath().c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino) << "a new file put in place, not the old one rewritten";
    std::ifstream stream(settingsHostPath());
    std::string head(5, '\0');
    stream.read(head.data(), 5);
    EXPECT_EQ(head, "<?xml");
    size_t entries = 0;
    for ([[maybe_unused]] auto& entry :
        std::filesystem::directory_iterator(std::filesystem::path(settingsHostPath()).parent_path()))
        ++entries;
    EXPECT_EQ(entries, 1u) << "no temporary file left behind";
}

TEST_F(SettingsStoreTest, AFailedSaveIsIgnored)
{
    // No Preferences directory to write into.
    EXPECT_NO_THROW(KSTPreferencesManager::savePrefs(Platform::foundationObject(Value(Dictionary {}))));
    EXPECT_FALSE(std::filesystem::exists(settingsHostPath()));
}

TEST_F(SettingsStoreTest, TheDefaultsTableHasNineEntriesOfTheRightKinds)
{
    auto defaultsValue = valueOf(KSTPreferencesManager::defaultPrefs());
    ASSERT_TRUE(defaultsValue && defaultsValue->asDictionary());
    Dictionary defaults = *defaultsValue->asDictionary();
    EXPECT_EQ(defaults.size(), 9u);
    for (auto& key : booleanKeys) {
        auto* value = defaults.find(key);
        ASSERT_TRUE(value) << key;
        EXPECT_EQ(value->kind(), Kind::Integer) << key << ": boolean defaults are the integers 0 and 1";
        EXPECT_EQ(value->integerValue(), key == "Enabled" || key == "DisableIfNotifications" ? 1 : 0) << key;
    }
    for (auto [key, seconds] : { std::pair { "RetryInterval", 1.0 }, std::pair { "DelayTime", 2.0 } }) {
        auto* value = defaults.find(key);
        ASSERT_TRUE(value) << key;
        EXPECT_EQ(value->kind(), Kind::Real) << key;
        EXPECT_EQ(value->doubleValue(), seconds) << key;
    }

    id first = KSTPreferencesManager::defaultPrefs();
    ObjC::send(first, ObjC::sel("setObject:forKey:"), ObjC::number(0ll), ObjC::string("Enabled"));
    auto again = valueOf(KSTPreferencesManager::defaultPrefs());
    ASSERT_TRUE(again && again->asDictionary());
    EXPECT_EQ(again->asDictionary()->find("Enabled")->integerValue(), 1) << "built afresh on every call";
    auto version = valueOf(KSTPreferencesManager::kCurrentVersion());
    ASSERT_TRUE(version);
    EXPECT_EQ(version->kind(), Kind::Integer);
    EXPECT_EQ(version->integerValue(), 2);
}

// What the engine's decisions read: a number by its value, anything else (a string "yes"
// included, which Foundation's own reading would take as YES) as NO / 0.0, nothing as NO / 0.0.
TEST_F(SettingsStoreTest, TheEngineReadsOnlyNumbers)
{
    writeSettings({ { "BlockForTouch", Value::string("yes") }, { "DelayTime", Value::string("3") },
        { "AutoRetry", Value::integer(int64_t(1) << 32) }, { "RetryInterval", Value::integer(16777217) },
        { "DisableIfMusic", Value::real(0.25) }, { "DelayBeforeUnlock", Value::data({ 1 }) } });
    EXPECT_FALSE(boolPref("BlockForTouch"));
    EXPECT_EQ(floatPref("DelayTime"), 0.0f);
    EXPECT_TRUE(boolPref("AutoRetry")) << "every bit of the integer counts";
    EXPECT_EQ(floatPref("RetryInterval"), 16777216.0f) << "straight to single precision";
    EXPECT_TRUE(boolPref("DisableIfMusic"));
    EXPECT_FALSE(boolPref("DelayBeforeUnlock"));
    EXPECT_TRUE(boolPref("Enabled")) << "the default";
    EXPECT_FALSE(boolPref("Foo"));
    EXPECT_EQ(floatPref("Foo"), 0.0f);
    EXPECT_EQ(Platform::readSystemLog().size(), 2u) << "a line for each lookup of the unknown key";
}

// The store is a class of the runtime too, with the same answers.
TEST_F(SettingsStoreTest, TheClassAnswersTheSameThroughTheRuntime)
{
    writeSettings({ { "DelayTime", Value::real(0.5) } });
    Class manager = ObjC::getClass("KSTPreferencesManager");
    ASSERT_TRUE(manager);
    auto delay = valueOf(ObjC::send<id>(manager, ObjC::sel("getPrefForKey:"), ObjC::string("DelayTime")));
    ASSERT_TRUE(delay);
    EXPECT_EQ(delay->doubleValue(), 0.5);
    auto enabled = valueOf(ObjC::send<id>(manager, ObjC::sel("getPrefForKey:"), ObjC::string("Enabled")));
    ASSERT_TRUE(enabled);
    EXPECT_EQ(enabled->integerValue(), 1);
    EXPECT_TRUE(valueOf(ObjC::send<id>(manager, ObjC::sel("getPrefs"))));
    EXPECT_TRUE(valueOf(ObjC::send<id>(manager, ObjC::sel("defaultPrefs"))));
    EXPECT_EQ(valueOf(ObjC::send<id>(manager, ObjC::sel("kCurrentVersion")))->integerValue(), 2);
}

} // namespace
