// The pane's controller: its cached row list, reading values from the settings file afresh,
// the derived user-agent row, writing values back whole and atomically (an unreadable file
// kept aside, failed writes, writers in two processes at once), the change notifications
// and the two button actions.
#include "PrefsTestSupport.h"

#include "platform/foundation/FoundationValue.h"
#include "platform/log/SystemLog.h"
#include "platform/trace/Timeline.h"
#include "prefs/kestrelprefsRootListController.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace PrefsTesting;

namespace {

constexpr const char* changedName = "com.plover.kestrel/preferences.changed";

Dictionary switchRow(const char* key, bool fallback, std::optional<const char*> notification = changedName)
{
    auto row = dictionary(
        { { "cell", Value::string("PSSwitchCell") }, { "label", Value::string(key) }, { "key", Value::string(key) },
            { "default", Value::boolean(fallback) }, { "defaults", Value::string("com.plover.kestrelprefs") } });
    if (notification)
        row.set("PostNotification", Value::string(*notification));
    return row;
}

Dictionary textRow(const char* key, std::optional<const char*> id = std::nullopt)
{
    auto row = dictionary({ { "cell", Value::string("PSEditTextCell") }, { "label", Value::string(key) },
        { "key", Value::string(key) } });
    if (id)
        row.set("id", Value::string(*id));
    return row;
}

// The row that shows the derived text; its "default" must never be used.
Dictionary userAgentRow()
{
    return dictionary({ { "cell", Value::string("PSTitleValueCell") }, { "label", Value::string("User agent") },
        { "id", Value::string("User-Agent") }, { "key", Value::string("presetUserAgent") },
        { "default", Value::string("from-default") } });
}

Dictionary buttonRow(const char* action)
{
    return dictionary({ { "cell", Value::string("PSButtonCell") }, { "label", Value::string(action) },
        { "action", Value::string(action) } });
}

std::vector<Dictionary> standardRows()
{
    return {
        dictionary({ { "cell", Value::string("PSGroupCell") }, { "label", Value::string("Main") } }),
        switchRow("Enabled", true),
        switchRow("enabled", false, "test.enabled.changed"),
        switchRow("useCustom", false, std::nullopt),
        textRow("device"),
        textRow("iosVersion"),
        userAgentRow(),
        dictionary({ { "cell", Value::string("PSSliderCell") }, { "label", Value::string("Delay") },
            { "key", Value::string("DelayTime") }, { "default", Value::real(2.0) }, { "min", Value::real(0) },
            { "max", Value::real(10) }, { "PostNotification", Value::string(changedName) } }),
        buttonRow("respring"),
        buttonRow("twitterlink"),
    };
}

// While it lives, no file of this process may grow beyond the limit, root's included: a write
// past it fails with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_previous);
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = m_previous;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_previous {};
    void (*m_previousHandler)(int) { nullptr };
};

// While it lives, nobody may create a file in the folder, root included: for root the folder
// is made immutable, which a file system may not support (then `ok()` is false).
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
        , m_path(path)
    {
        if (m_fd < 0)
            return;
        if (::geteuid() != 0) {
            m_ok = ::chmod(path.c_str(), 0555) == 0;
            return;
        }
        m_ok = ::ioctl(m_fd, FS_IOC_GETFLAGS, &m_flags) == 0;
        int immutable = m_flags | FS_IMMUTABLE_FL;
        m_ok = m_ok && ::ioctl(m_fd, FS_IOC_SETFLAGS, &immutable) == 0;
    }
    ~ReadOnlyFolder()
    {
        if (m_ok && ::geteuid() != 0)
            ::chmod(m_path.c_str(), 0755);
        else if (m_ok)
            ::ioctl(m_fd, FS_IOC_SETFLAGS, &m_flags);
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;
    bool ok() const { return m_ok; }

private:
    int m_fd { -1 };
    std::string m_path;
    int m_flags { 0 };
    bool m_ok { false };
};

class ListControllerTest : public PrefsTest {
protected:
    void SetUp() override
    {
        PrefsTest::SetUp();
        m_controller = makeController(standardRows());
    }
    void TearDown() override
    {
        Platform::setTimelineSink({});
        m_controller = nullptr;
        PrefsTest::TearDown();
    }

    id specifiers() { return send<id>(m_controller, sel("specifiers")); }
    static unsigned long countOf(id list) { return send<unsigned long>(list, sel("count")); }
    bool shouldReload() { return send<bool>(m_controller, sel("shouldReload")); }
    PSListController& controller() { return controllerState(m_controller); }
    // What the application opened since the test began: it lives as long as the process.
    std::vector<std::string> openedSinceStart() const
    {
        auto opened = UIKit::UIApplication::shared().openedURLs();
        return { opened.begin() + std::min(opened.size(), m_openedBefore), opened.end() };
    }

    // The loaded row with this key or identifier.
    id rowWith(const char* property, std::string_view wanted)
    {
        id list = specifiers();
        for (unsigned long index = 0; index < countOf(list); ++index) {
            id object = send<id>(list, sel("objectAtIndex:"), index);
            auto* specifier = PSSpecifier::from(object);
            if (specifier && specifier->stringProperty(property) == wanted)
                return object;
        }
        return nullptr;
    }
    id rowWithKey(std::string_view key) { return rowWith("key", key); }

    std::optional<Value> readKey(std::string_view key) { return read(m_controller, rowWithKey(key)); }
    void writeKey(std::string_view key, Value value) { write(m_controller, std::move(value), rowWithKey(key)); }

    static std::optional<Value> shownValue(id controller, std::string_view identifier)
    {
        for (auto& shown : controllerState(controller).shownRows()) {
            if (specifierState(shown.specifier).identifierText() == identifier)
                return Platform::propertyListValue(shown.value);
        }
        ADD_FAILURE() << "no shown row " << identifier;
        return std::nullopt;
    }
    std::optional<Value> shownValue(std::string_view identifier) { return shownValue(m_controller, identifier); }

    std::vector<std::string> preferencesFolder() const
    {
        std::vector<std::string> names;
        for (auto& entry : std::filesystem::directory_iterator(hostPath(settingsFolder)))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    RetainPtr m_controller;
    size_t m_openedBefore { UIKit::UIApplication::shared().openedURLs().size() };
};

// --- The row list ---

TEST_F(ListControllerTest, TheRowListIsLoadedOnceAndThenServedFromTheCache)
{
    id first = specifiers();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(countOf(first), standardRows().size());
    writeRoot(std::vector<Dictionary> { textRow("other") });
    EXPECT_EQ(specifiers(), first) << "the same list object, not a new load";
    EXPECT_EQ(controller().loadCount(), 1u);
    Ivar ivar = instanceVariable(getClass("PSListController"), "_specifiers");
    ASSERT_NE(ivar, nullptr) << "the list is kept in the framework's _specifiers";
    EXPECT_EQ(objectIvar(m_controller, ivar), first);
    EXPECT_GE(send<unsigned long>(first, sel("retainCount")), 1u) << "and held there";
}

TEST_F(ListControllerTest, ShouldReloadMakesTheNextRequestLoadAfreshAndClearsTheFlag)
{
    EXPECT_FALSE(shouldReload()) << "a new controller does not reload";
    RetainPtr first = specifiers();
    writeRoot(std::vector<Dictionary> { textRow("one"), textRow("two") });
    send(m_controller, sel("setShouldReload:"), true);
    EXPECT_TRUE(shouldReload());

    id second = specifiers();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first.get());
    EXPECT_EQ(countOf(second), 2u) << "the Root as it is now";
    EXPECT_FALSE(shouldReload());
    EXPECT_EQ(controller().loadCount(), 2u);

    EXPECT_EQ(specifiers(), second) << "the flag is spent: the next request uses the cache again";
    EXPECT_EQ(controller().loadCount(), 2u);
}

TEST_F(ListControllerTest, ARootThatCannotBeLoadedGivesAnEmptyPageAndIsTriedAgainOnTheNextRequest)
{
    auto controller = makeController({});
    writeRoot("this is no property list");
    EXPECT_EQ(send<id>(controller, sel("specifiers")), nullptr);
    send(controller, sel("reloadSpecifiers"));
    EXPECT_TRUE(controllerState(controller).shownRows().empty()) << "an empty page";
    unsigned loads = controllerState(controller).loadCount();
    EXPECT_EQ(send<id>(controller, sel("specifiers")), nullptr);
    EXPECT_EQ(controllerState(controller).loadCount(), loads + 1) << "nothing cached: loaded again";

    std::filesystem::remove(bundleFolder() + "/Root.plist");
    EXPECT_EQ(send<id>(controller, sel("specifiers")), nullptr) << "a missing Root";
    writeRoot(R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><array/></plist>)");
    EXPECT_EQ(send<id>(controller, sel("specifiers")), nullptr) << "a Root that is no dictionary";

    writeRoot(standardRows());
    id list = send<id>(controller, sel("specifiers"));
    ASSERT_NE(list, nullptr) << "a Root that became loadable is picked up";
    EXPECT_EQ(countOf(list), standardRows().size());
}

// --- Reading ---

TEST_F(ListControllerTest, EveryReadReadsTheFileAfresh)
{
    writeSettings(dictionary({ { "DelayTime", Value::real(3.0) } }));
    EXPECT_EQ(readKey("DelayTime"), Value::real(3.0));
    writeSettings(dictionary({ { "DelayTime", Value::real(4.5) } }));
    EXPECT_EQ(readKey("DelayTime"), Value::real(4.5)) << "the file changed between two reads";
    writeFile(settingsPath, "");
    EXPECT_EQ(readKey("DelayTime"), Value::real(2.0)) << "and a file that became unreadable gives the default";
}

TEST_F(ListControllerTest, AStoredValueIsAnsweredAsStoredWithItsKind)
{
    writeSettings(dictionary({ { "Enabled", Value::integer(7) }, { "DelayTime", Value::string("soon") } }));
    EXPECT_EQ(readKey("Enabled"), Value::integer(7)) << "no conversion to the row's type";
    EXPECT_EQ(readKey("DelayTime"), Value::string("soon"));
    writeSettings(dictionary({ { "Enabled", Value::boolean(false) } }));
    EXPECT_EQ(readKey("Enabled"), Value::boolean(false)) << "a stored false wins over the default true";
}

TEST_F(ListControllerTest, AKeyAbsentFromTheFileGivesTheRowsDefaultOrNilWithoutOne)
{
    writeSettings(dictionary({ { "Other", Value::integer(1) } }));
    EXPECT_EQ(readKey("Enabled"), Value::boolean(true));
    EXPECT_EQ(readKey("DelayTime"), Value::real(2.0));
    EXPECT_EQ(readKey("device"), std::nullopt) << "no entry and no default";
    auto keyless = row(dictionary({ { "cell", Value::string("PSSwitchCell") }, { "default", Value::boolean(true) } }),
        m_controller);
    EXPECT_EQ(read(m_controller, keyless), Value::boolean(true)) << "a row without a key shows its default";
    auto lowerCase = row(dictionary({ { "key", Value::string("other") } }), m_controller);
    EXPECT_EQ(read(m_controller, lowerCase), std::nullopt) << "keys are compared with their letter case";
    EXPECT_EQ(read(m_controller, text("no row")), std::nullopt) << "what is no row has no value";
    EXPECT_EQ(read(m_controller, nullptr), std::nullopt);
}

TEST_F(ListControllerTest, AMissingCorruptOrHostileSettingsFileGivesTheDefaults)
{
    EXPECT_EQ(readKey("Enabled"), Value::boolean(true)) << "no file";
    for (const char* bytes :
        { "garbage", "<?xml version=\"1.0\"?><plist><dict><key>Enabled</key><false/>",
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><false/></array></plist>", "bplist00\xff\xff\xff" }) {
        writeFile(settingsPath, bytes);
        EXPECT_EQ(readKey("Enabled"), Value::boolean(true)) << bytes;
        EXPECT_EQ(readKey("device"), std::nullopt) << bytes;
    }
    std::filesystem::remove(hostPath(settingsPath));
    ASSERT_EQ(::mkfifo(hostPath(settingsPath).c_str(), 0600), 0);
    EXPECT_EQ(readKey("Enabled"), Value::boolean(true)) << "a FIFO neither blocks nor counts";
    std::filesystem::remove(hostPath(settingsPath));
    std::filesystem::create_directories(hostPath(settingsPath));
    EXPECT_EQ(readKey("Enabled"), Value::boolean(true)) << "a folder in the file's place";
}

// --- The derived user-agent row ---

TEST_F(ListControllerTest, ThePresetUserAgentIsDerivedFromDeviceAndSystemVersionAndNeverFromItsOwnEntry)
{
    writeSettings(dictionary({ { "device", Value::string("iPhone12,1") }, { "iosVersion", Value::string("14.2") },
        { "presetUserAgent", Value::string("stale text") } }));
    EXPECT_EQ(readKey("presetUserAgent"), Value::string("iPhone12,1/14.2"));

    writeSettings(dictionary({ { "device", Value::string("iPhone12,1") } }));
    EXPECT_EQ(readKey("presetUserAgent"), Value::string("iPhone12,1/(null)"))
        << "a missing half reads as the formatter's nil";
    writeSettings(dictionary({ { "iosVersion", Value::string("15.0") } }));
    EXPECT_EQ(readKey("presetUserAgent"), Value::string("(null)/15.0"));
    std::filesystem::remove(hostPath(settingsPath));
    EXPECT_EQ(readKey("presetUserAgent"), Value::string("(null)/(null)")) << "not the row's default";
}

TEST_F(ListControllerTest, NumbersInTheUserAgentShowAsTheirOwnText)
{
    writeSettings(dictionary({ { "device", Value::integer(12) }, { "iosVersion", Value::real(14.5) } }));
    EXPECT_EQ(readKey("presetUserAgent"), Value::string("12/14.5"));
    writeSettings(dictionary({ { "device", Value::integer(-3) }, { "iosVersion", Value::real(15) } }));
    EXPECT_EQ(readKey("presetUserAgent"), Value::string("-3/15"));
}

TEST_F(ListControllerTest, ReadingDeviceOrSystemVersionReloadsTheUserAgentRowAndNothingElseDoes)
{
    readKey("device");
    readKey("device");
    EXPECT_EQ(controller().reloadedSpecifierIDs(), (std::vector<std::string> { "User-Agent", "User-Agent" }))
        << "at every read, even when nothing changed";
    readKey("iosVersion");
    EXPECT_EQ(controller().reloadedSpecifierIDs().size(), 3u);
    readKey("presetUserAgent");
    readKey("Enabled");
    readKey("DelayTime");
    EXPECT_EQ(controller().reloadedSpecifierIDs().size(), 3u) << "no other read reloads a row";
}

TEST_F(ListControllerTest, TheReloadKeepsTheShownUserAgentCurrent)
{
    send(m_controller, sel("reloadSpecifiers"));
    EXPECT_EQ(shownValue("User-Agent"), Value::string("(null)/(null)"));
    writeSettings(dictionary({ { "device", Value::string("iPad8,1") }, { "iosVersion", Value::string("13.3") } }));
    readKey("device");
    EXPECT_EQ(shownValue("User-Agent"), Value::string("iPad8,1/13.3"))
        << "reading the device refreshed the derived row";
}

TEST_F(ListControllerTest, AUserAgentRowThatItselfCarriesTheDeviceKeyDoesNotRecurseForever)
{
    auto controller = makeController({ textRow("device", "User-Agent"), textRow("iosVersion") });
    writeSettings(dictionary({ { "device", Value::string("iPhone") } }));
    send(controller, sel("reloadSpecifiers"));
    ASSERT_EQ(controllerState(controller).shownRows().size(), 2u);
    EXPECT_EQ(Platform::propertyListValue(controllerState(controller).shownRows()[0].value), Value::string("iPhone"));
    EXPECT_LE(controllerState(controller).reloadedSpecifierIDs().size(), 4u);
}

// --- Writing ---

TEST_F(ListControllerTest, AWriteKeepsEveryOtherEntryAlsoKeysThatNoRowShows)
{
    writeSettings(dictionary({ { "Enabled", Value::boolean(false) }, { "Unshown", Value::string("keep me") },
        { "Nested", Value(dictionary({ { "a", Value::integer(1) } })) },
        { "List", Value(Array { Value::real(0.5) }) } }));
    writeKey("DelayTime", Value::real(5.5));
    auto file = settings();
    ASSERT_TRUE(file);
    EXPECT_EQ(*file,
        dictionary({ { "Enabled", Value::boolean(false) }, { "Unshown", Value::string("keep me") },
            { "Nested", Value(dictionary({ { "a", Value::integer(1) } })) },
            { "List", Value(Array { Value::real(0.5) }) }, { "DelayTime", Value::real(5.5) } }));
}

TEST_F(ListControllerTest, WritingTheSameKeyTwiceLeavesOneEntryWithTheSecondValue)
{
    writeKey("DelayTime", Value::real(1.0));
    writeKey("DelayTime", Value::real(7.25));
    auto file = settings();
    ASSERT_TRUE(file);
    EXPECT_EQ(*file, dictionary({ { "DelayTime", Value::real(7.25) } }));
    auto text = readFile(settingsPath).value_or("");
    EXPECT_EQ(text.find("<key>DelayTime</key>"), text.rfind("<key>DelayTime</key>")) << "one entry in the file itself";
}

TEST_F(ListControllerTest, ValuesAreStoredWithoutConversion)
{
    writeKey("Enabled", Value::integer(3));
    writeKey("device", Value::string("iPhone13,2"));
    writeKey("DelayTime", Value::boolean(true));
    EXPECT_EQ(*settings(),
        dictionary({ { "Enabled", Value::integer(3) }, { "device", Value::string("iPhone13,2") },
            { "DelayTime", Value::boolean(true) } }));
}

TEST_F(ListControllerTest, TheFileIsAnXMLPropertyListThatPythonReadsBack)
{
    writeSettings(dictionary({ { "Unshown", Value::string("a & <b>") } }));
    writeKey("Enabled", Value::boolean(false));
    writeKey("DelayTime", Value::real(0.1));
    auto text = readFile(settingsPath).value_or("");
    EXPECT_TRUE(text.starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist")) << text;

    auto python = commandOutput("python3 -c 'import plistlib,sys\n"
                                "d = plistlib.load(open(sys.argv[1], \"rb\"), fmt=plistlib.FMT_XML)\n"
                                "print(sorted((k, type(v).__name__, repr(v)) for k, v in d.items()))' '"
        + hostPath(settingsPath) + "'");
    ASSERT_TRUE(python) << "plistlib refused the file";
    EXPECT_EQ(
        *python, "[('DelayTime', 'float', '0.1'), ('Enabled', 'bool', 'False'), ('Unshown', 'str', \"'a & <b>'\")]\n");
}

TEST_F(ListControllerTest, AWriteReplacesTheFileWholeAndLeavesNoTemporaryFileBehind)
{
    writeSettings(dictionary({ { "Unshown", Value::integer(1) } }));
    ::chmod(hostPath(settingsPath).c_str(), 0600);
    struct stat before;
    ASSERT_EQ(::stat(hostPath(settingsPath).c_str(), &before), 0);
    for (int i = 0; i < 5; ++i)
        writeKey("DelayTime", Value::real(i));
    struct stat after;
    ASSERT_EQ(::stat(hostPath(settingsPath).c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino) << "a new file took the old one's place, it was not rewritten in place";
    EXPECT_EQ(preferencesFolder(), std::vector<std::string> { "com.plover.kestrelprefs.plist" });
}

TEST_F(ListControllerTest, TheRowsNotificationIsPostedAfterTheWrite)
{
    // The observer reads the file when the notification arrives: the value is already there.
    std::mutex lock;
    std::vector<std::optional<Value>> seen;
    Platform::addNotifyObserver(changedName, [&](std::string_view) {
        auto file = Platform::Plist::readFile(hostPath(settingsPath));
        const Value* value
            = file.ok() && file.value.asDictionary() ? file.value.asDictionary()->find("DelayTime") : nullptr;
        std::lock_guard guard(lock);
        seen.push_back(value ? std::optional<Value>(*value) : std::nullopt);
    });
    monitorNotifications();
    writeKey("DelayTime", Value::real(6.0));
    // Delivery runs on its own thread: the first must be seen before the second write.
    EXPECT_EQ(postedNames(), std::vector<std::string> { changedName });
    writeKey("DelayTime", Value::real(6.5));
    EXPECT_EQ(postedNames(), (std::vector<std::string> { changedName, changedName })) << "one post per write";
    std::lock_guard guard(lock);
    EXPECT_EQ(seen, (std::vector<std::optional<Value>> { Value::real(6.0), Value::real(6.5) }));
}

TEST_F(ListControllerTest, ARowWithoutANotificationPostsNothingButIsWritten)
{
    monitorNotifications();
    auto quiet = row(dictionary({ { "cell", Value::string("PSSwitchCell") }, { "key", Value::string("Quiet") } }),
        m_controller);
    write(m_controller, Value::boolean(true), quiet);
    EXPECT_EQ(settings(), dictionary({ { "Quiet", Value::boolean(true) } }));
    EXPECT_TRUE(postedNames().empty());
}

TEST_F(ListControllerTest, OnlyLowerCaseEnabledAndUseCustomRebuildTheList)
{
    specifiers();
    unsigned loads = controller().loadCount();
    unsigned reloads = controller().reloadCount();
    writeKey("Enabled", Value::boolean(false));
    writeKey("DelayTime", Value::real(3));
    EXPECT_EQ(controller().loadCount(), loads) << "the engine's key Enabled does not rebuild the list";
    EXPECT_EQ(controller().reloadCount(), reloads);

    writeKey("enabled", Value::boolean(true));
    EXPECT_EQ(controller().loadCount(), loads + 1) << "one fresh load per write of enabled";
    EXPECT_EQ(controller().reloadCount(), reloads + 1);
    EXPECT_FALSE(shouldReload()) << "the reload spent the flag";
    EXPECT_EQ(controller().shownRows().size(), standardRows().size()) << "every row shown again";

    writeKey("useCustom", Value::boolean(true));
    EXPECT_EQ(controller().loadCount(), loads + 2);
    EXPECT_EQ(controller().reloadCount(), reloads + 2);
    EXPECT_FALSE(shouldReload());
}

TEST_F(ListControllerTest, TheRebuiltListShowsTheValueJustWritten)
{
    writeKey("enabled", Value::boolean(true));
    EXPECT_EQ(shownValue("enabled"), Value::boolean(true));
    writeKey("useCustom", Value::integer(0));
    EXPECT_EQ(shownValue("useCustom"), Value::integer(0));
    EXPECT_EQ(shownValue("enabled"), Value::boolean(true));
}

TEST_F(ListControllerTest, ARowWithoutAKeyOrANilValueWritesAndPostsNothing)
{
    monitorNotifications();
    writeSettings(dictionary({ { "Unshown", Value::integer(1) } }));
    auto before = readFile(settingsPath);
    auto keyless = row(
        dictionary({ { "cell", Value::string("PSSwitchCell") }, { "PostNotification", Value::string(changedName) } }),
        m_controller);
    write(m_controller, Value::boolean(true), keyless);
    auto numberKey
        = row(dictionary({ { "key", Value::integer(5) }, { "PostNotification", Value::string(changedName) } }),
            m_controller);
    write(m_controller, Value::boolean(true), numberKey);
    write(m_controller, std::nullopt, rowWithKey("DelayTime"));
    write(m_controller, std::nullopt, rowWithKey("enabled"));
    write(m_controller, Value::boolean(true), nullptr);
    write(m_controller, Value::boolean(true), text("no row"));

    EXPECT_EQ(readFile(settingsPath), before) << "the file's bytes are unchanged";
    EXPECT_TRUE(postedNames().empty());
    EXPECT_EQ(controller().reloadCount(), 0u) << "a nil value for enabled rebuilds nothing";
}

TEST_F(ListControllerTest, AMissingSettingsFileIsCreatedWithTheOneEntry)
{
    writeKey("DelayTime", Value::real(4));
    EXPECT_EQ(settings(), dictionary({ { "DelayTime", Value::real(4) } }));
    struct stat info;
    ASSERT_EQ(::stat(hostPath(settingsPath).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

// A file the pane cannot read would be lost to the write, which then starts from nothing: it
// is moved beside as NAME.unreadable first (the latest replacing an older one), with one line
// in the system log. A missing file is not unreadable.
TEST_F(ListControllerTest, AnUnreadableSettingsFileIsKeptBesideBeforeAWriteStartsFromNothing)
{
    const std::string kept = std::string(settingsPath) + ".unreadable";
    auto inode = [&](std::string_view devicePath) {
        struct stat status { };
        ::lstat(hostPath(devicePath).c_str(), &status);
        return status.st_ino;
    };

    writeKey("DelayTime", Value::real(1));
    writeKey("DelayTime", Value::real(2));
    EXPECT_FALSE(std::filesystem::exists(hostPath(kept))) << "neither a missing nor a readable file is kept";
    EXPECT_TRUE(Platform::readSystemLog().empty());

    const std::string typo = "<?xml version=\"1.0\"?><plist><dict><key>Lost</key><strin>x</string></dict></plist>";
    writeFile(settingsPath, typo, 0600);
    auto typoInode = inode(settingsPath);
    writeKey("DelayTime", Value::real(4));
    EXPECT_EQ(settings(), dictionary({ { "DelayTime", Value::real(4) } }));
    EXPECT_EQ(readFile(kept), typo);
    EXPECT_EQ(inode(kept), typoInode) << "the file itself was moved, not copied";
    auto log = Platform::readSystemLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].find("com.plover.kestrelprefs.plist could not be read"), std::string::npos) << log[0];
    EXPECT_NE(log[0].find("kept it as com.plover.kestrelprefs.plist.unreadable"), std::string::npos) << log[0];

    // A property list whose root is no dictionary cannot be merged into either; it replaces
    // the one kept before.
    const std::string arrayRoot = Platform::Plist::toXml(Value(Array { Value::string("a list") }));
    writeFile(settingsPath, arrayRoot);
    writeKey("DelayTime", Value::real(5));
    EXPECT_EQ(settings(), dictionary({ { "DelayTime", Value::real(5) } }));
    EXPECT_EQ(readFile(kept), arrayRoot);
    EXPECT_EQ(Platform::readSystemLog().size(), 2u);

    // A link in the file's place is what is moved: the file it points at is never touched.
    writeFile("/elsewhere/target", "not a property list");
    std::filesystem::remove(hostPath(settingsPath));
    std::filesystem::create_symlink(hostPath("/elsewhere/target"), hostPath(settingsPath));
    writeKey("DelayTime", Value::real(6));
    EXPECT_TRUE(std::filesystem::is_symlink(hostPath(kept)));
    EXPECT_EQ(readFile("/elsewhere/target"), "not a property list");
    EXPECT_EQ(settings(), dictionary({ { "DelayTime", Value::real(6) } }));

    // When it cannot be moved aside (a folder holds the name), it stays and the change is not
    // saved; the row's notification still goes out.
    std::filesystem::remove(hostPath(kept));
    std::filesystem::create_directories(hostPath(kept) + "/inside");
    writeFile(settingsPath, typo);
    monitorNotifications();
    writeKey("DelayTime", Value::real(7));
    EXPECT_EQ(readFile(settingsPath), typo);
    EXPECT_EQ(postedNames(), std::vector<std::string> { changedName });
    log = Platform::readSystemLog();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_NE(log[3].find("nor be kept aside"), std::string::npos) << log[3];
}

// A write that fails, even for root, leaves what was there as it was; the row's notification
// still goes out and the list is still rebuilt.
TEST_F(ListControllerTest, AWriteThatFailsStillPostsAndRebuildsAndLeavesThePreviousFileWhole)
{
    specifiers();
    monitorNotifications();
    unsigned reloads = controller().reloadCount();

    // A folder where the file should be: no file to keep aside, and none can replace it.
    writeFile(std::string(settingsPath) + "/inside", "untouched");
    writeKey("enabled", Value::boolean(true));
    EXPECT_EQ(readFile(std::string(settingsPath) + "/inside"), "untouched");
    EXPECT_EQ(postedNames(), std::vector<std::string> { "test.enabled.changed" });
    EXPECT_EQ(controller().reloadCount(), reloads + 1);
    EXPECT_EQ(preferencesFolder(), std::vector<std::string> { "com.plover.kestrelprefs.plist" });
    EXPECT_TRUE(Platform::readSystemLog().empty());

    // A readable file whose replacement cannot be written out.
    std::filesystem::remove_all(hostPath(settingsPath));
    writeSettings(dictionary({ { "Unshown", Value::string("keep me") }, { "enabled", Value::boolean(false) } }));
    auto before = readFile(settingsPath);
    {
        FileSizeLimit limit(64);
        writeKey("enabled", Value::boolean(true));
    }
    EXPECT_EQ(readFile(settingsPath), before);
    EXPECT_EQ(postedNames(), (std::vector<std::string> { "test.enabled.changed", "test.enabled.changed" }));
    EXPECT_EQ(controller().reloadCount(), reloads + 2);
    EXPECT_EQ(preferencesFolder(), std::vector<std::string> { "com.plover.kestrelprefs.plist" }) << "no temporary file";

    // A Preferences folder that cannot be written to.
    ReadOnlyFolder readOnly(hostPath(settingsFolder));
    if (!readOnly.ok()) {
        std::fprintf(stderr, "this file system cannot make a folder read-only for root; that case is not run\n");
        return;
    }
    writeKey("enabled", Value::boolean(true));
    EXPECT_EQ(readFile(settingsPath), before);
    EXPECT_EQ(postedNames().size(), 3u);
    EXPECT_EQ(controller().reloadCount(), reloads + 3);
    EXPECT_EQ(preferencesFolder(), std::vector<std::string> { "com.plover.kestrelprefs.plist" }) << "no temporary file";
}

// Two Settings apps changing their own keys at the same moment, many times over: at the end
// the file holds every entry of both, and every entry that was there before.
TEST_F(ListControllerTest, TwoProcessesWritingAtOnceLoseNoEntry)
{
    writeSettings(dictionary({ { "Unshown", Value::string("keep me") } }));
    constexpr int writes = 150;
    std::string program = std::string(KESTREL_BUILD_DIR) + "/bin/paneWriter";
    std::string count = std::to_string(writes);
    std::vector<pid_t> writers;
    for (std::string prefix : { "A", "B" }) {
        std::string rootPath = root();
        char* argv[] = { program.data(), rootPath.data(), prefix.data(), count.data(), nullptr };
        pid_t pid = -1;
        ASSERT_EQ(::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);
        writers.push_back(pid);
    }
    for (pid_t pid : writers) {
        int status = -1;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer status " << status;
    }

    auto file = settings();
    ASSERT_TRUE(file);
    Dictionary expected = dictionary({ { "Unshown", Value::string("keep me") } });
    for (std::string prefix : { "A", "B" }) {
        for (int index = 0; index < writes; ++index)
            expected.set(prefix + "-" + std::to_string(index), Value::integer(index));
    }
    std::vector<std::string> lost;
    for (auto& [key, value] : expected) {
        if (!file->find(key))
            lost.push_back(key);
    }
    EXPECT_TRUE(lost.empty()) << lost.size() << " entries lost, the first " << lost.front();
    EXPECT_EQ(*file, expected);
}

// Writers take turns under a lock on the Preferences folder, but one that keeps it (a hung
// process, an outsider) must not hang the pane: the write goes ahead without it.
TEST_F(ListControllerTest, AWriterThatNeverLetsGoOfTheLockDoesNotHangThePane)
{
    int holder = ::open(hostPath(settingsFolder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    monitorNotifications();
    writeKey("DelayTime", Value::real(8));
    EXPECT_EQ(settings(), dictionary({ { "DelayTime", Value::real(8) } }));
    EXPECT_EQ(postedNames(), std::vector<std::string> { changedName });
    ::close(holder);
    writeKey("DelayTime", Value::real(9));
    EXPECT_EQ(settings(), dictionary({ { "DelayTime", Value::real(9) } })) << "and the lock, once free, is taken again";
}

// A device whose Preferences folder has gone gets it back with the first write.
TEST_F(ListControllerTest, AMissingSettingsFolderIsCreatedByTheFirstWrite)
{
    std::filesystem::remove_all(hostPath("/var/mobile/Library"));
    monitorNotifications();
    writeKey("DelayTime", Value::real(4));
    EXPECT_EQ(settings(), dictionary({ { "DelayTime", Value::real(4) } }));
    EXPECT_EQ(postedNames(), std::vector<std::string> { changedName });
}

TEST_F(ListControllerTest, AWriteClearsTemporaryFilesThatKilledWritersLeftButNotFreshOnes)
{
    auto folder = hostPath("/var/mobile/Library/Preferences");
    std::filesystem::create_directories(folder);
    auto abandoned = folder + "/.com.plover.kestrelprefs.plist.Ab12Cd";
    auto fresh = folder + "/.com.plover.kestrelprefs.plist.Ef34Gh";
    auto unrelated = folder + "/.com.example.other.plist.Ij56Kl";
    for (auto& path : { abandoned, fresh, unrelated })
        writeFile(path.substr(hostPath("/").size() - 1), "half a plist");
    auto longAgo = std::filesystem::file_time_type::clock::now() - std::chrono::minutes(5);
    std::filesystem::last_write_time(abandoned, longAgo);
    std::filesystem::last_write_time(unrelated, longAgo);

    writeKey("DelayTime", Value::real(3));
    EXPECT_FALSE(std::filesystem::exists(abandoned)) << "a dead writer's file older than a minute goes";
    EXPECT_TRUE(std::filesystem::exists(fresh)) << "a writer may still be using a recent one";
    EXPECT_TRUE(std::filesystem::exists(unrelated)) << "only this settings file's temporaries";
}

// --- Actions ---

TEST_F(ListControllerTest, RespringPostsTheRestartNotificationEvenWithNobodyListening)
{
    std::mutex lock;
    std::vector<std::string> events;
    Platform::setTimelineSink([&](std::string_view event) {
        std::lock_guard guard(lock);
        events.emplace_back(event);
    });
    send(m_controller, sel("respring"));
    {
        std::lock_guard guard(lock);
        EXPECT_EQ(events, std::vector<std::string> { std::string("post ") + respringName });
    }

    monitorNotifications();
    send(m_controller, sel("respring"));
    EXPECT_EQ(postedNames(), std::vector<std::string> { respringName });
    EXPECT_FALSE(std::filesystem::exists(hostPath(settingsPath))) << "nothing else happens";
    EXPECT_TRUE(openedSinceStart().empty());
}

TEST_F(ListControllerTest, TheRespringButtonOfTheRootCallsTheAction)
{
    monitorNotifications();
    id button = rowWith("action", "respring");
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(send<id>(button, sel("target")), m_controller.get());
    send(send<id>(button, sel("target")), send<SEL>(button, sel("buttonAction")));
    EXPECT_EQ(postedNames(), std::vector<std::string> { respringName });
}

TEST_F(ListControllerTest, TwitterlinkOpensTheProfileAddress)
{
    send(m_controller, sel("twitterlink"));
    auto opened = openedSinceStart();
    ASSERT_EQ(opened, std::vector<std::string> { kestrelProfileAddress });
    EXPECT_TRUE(opened[0].starts_with("https://")) << opened[0];
    send(m_controller, sel("twitterlink"));
    EXPECT_EQ(openedSinceStart().size(), 2u) << "once per tap";
}

} // namespace
