// `kestrel settings`: the real kestrel program driving the real KestrelPrefs bundle in
// temporary devices laid out by `kestrel init`. Listing, typed writes and their refusals,
// the buttons, drawing the pane, and the errors that must leave the device untouched.
#include "platform/fs/DeviceRoot.h"
#include "platform/notify/Notify.h"
#include "platform/notify/NotifyTesting.h"
#include "platform/plist/PropertyList.h"

#include <cairo.h>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Platform::Plist::Dictionary;
using Platform::Plist::Value;

const std::string kestrel = std::string(KESTREL_BUILD_DIR) + "/bin/kestrel";
constexpr const char* settingsPath = "/var/mobile/Library/Preferences/com.plover.kestrelprefs.plist";
constexpr const char* statusPath = "/var/lib/dpkg/status";

struct Outcome {
    int exitCode { -1 };
    std::string out;
    std::string err;
};

std::string readAll(const std::string& path)
{
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream contents;
    contents << stream.rdbuf();
    return contents.str();
}

std::optional<std::string> readIfPresent(const std::string& path)
{
    if (!fs::exists(path))
        return std::nullopt;
    return readAll(path);
}

// The environment for kestrel: ours, except that a sanitizer build's leak checker is told
// to overlook fontconfig's caches, which the drawing library never frees, the Objective-C
// runtime's one-time allocations and the one object Foundation's log keeps. Leaks of our own
// code still fail the run.
std::vector<std::string> childEnvironment(const std::string& scratch)
{
    std::string suppressions = scratch + "/leak-suppressions";
    if (!fs::exists(suppressions))
        std::ofstream(suppressions) << "leak:libfontconfig.so\nleak:libobjc.so.4\nleak:NSLogv\n";
    std::vector<std::string> environment;
    std::string leakOptions = "LSAN_OPTIONS=suppressions=" + suppressions + ":print_suppressions=0";
    for (char** variable = environ; *variable; ++variable) {
        std::string_view text = *variable;
        if (text.starts_with("LSAN_OPTIONS="))
            leakOptions = std::string(text) + ":suppressions=" + suppressions + ":print_suppressions=0";
        else
            environment.emplace_back(text);
    }
    environment.push_back(leakOptions);
    return environment;
}

// Runs kestrel with these arguments, its output and errors caught in files (no shell).
Outcome run(const std::vector<std::string>& arguments, const std::string& scratch)
{
    std::string outPath = scratch + "/out", errPath = scratch + "/err";
    auto environment = childEnvironment(scratch);
    std::vector<char*> environmentPointers;
    for (auto& variable : environment)
        environmentPointers.push_back(variable.data());
    environmentPointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> argv { kestrel };
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (auto& argument : argv)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    pid_t pid = -1;
    Outcome outcome;
    int error = posix_spawn(&pid, kestrel.c_str(), &actions, nullptr, pointers.data(), environmentPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error)
        return outcome;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.out = readAll(outPath);
    outcome.err = readAll(errPath);
    return outcome;
}

size_t lineCount(const std::string& text) { return size_t(std::count(text.begin(), text.end(), '\n')); }

// Splits a listing into its tab-separated fields, one vector per line.
std::vector<std::vector<std::string>> table(const std::string& listing)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        size_t start = 0;
        while (true) {
            size_t tab = line.find('\t', start);
            fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
            if (tab == std::string::npos)
                break;
            start = tab + 1;
        }
        rows.push_back(std::move(fields));
    }
    return rows;
}

class SettingsCommandTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(fs::exists(kestrel)) << kestrel;
        std::string pattern = (fs::temp_directory_path() / "kestrel-settings-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_scratch = fs::canonical(pattern).string();
        m_device = m_scratch + "/device";
        auto init = run({ "init", m_device }, m_scratch);
        ASSERT_EQ(init.exitCode, 0) << init.err;
    }
    void TearDown() override
    {
        if (Platform::deviceRoot()) {
            Platform::resetNotifyForTesting();
            Platform::clearDeviceRoot();
        }
        std::error_code error;
        fs::remove_all(m_scratch, error);
    }

    Outcome settings(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), { "settings", m_device });
        return run(arguments, m_scratch);
    }
    std::string devicePath(std::string_view path) const { return m_device + std::string(path); }

    void writeSettings(Dictionary entries) const
    {
        ASSERT_TRUE(Platform::Plist::writeFileAtomically(devicePath(settingsPath), Value(std::move(entries))));
    }
    std::optional<Dictionary> settingsFile() const
    {
        auto file = Platform::Plist::readFile(devicePath(settingsPath));
        if (!file.ok() || !file.value.asDictionary())
            return std::nullopt;
        return *file.value.asDictionary();
    }

    // The listing's line for a row key (or the header/footer line), split at tabs.
    std::vector<std::string> listed(
        const std::string& listing, std::string_view first, size_t column, std::string_view text)
    {
        for (auto& row : table(listing)) {
            if (row.size() > column && row[0] == first && row[column] == text)
                return row;
        }
        ADD_FAILURE() << "no " << first << " line with " << text << " in\n" << listing;
        return {};
    }
    std::string valueOf(const std::string& listing, std::string_view type, std::string_view key)
    {
        auto row = listed(listing, type, 2, key);
        return row.size() > 3 ? row[3] : "";
    }

    // The text between the quotes of the footer line.
    std::string footerText(const std::string& listing)
    {
        auto row = listed(listing, "footer", 1, "KSTFooterCell");
        if (row.size() < 3 || row[2].size() < 2)
            return "";
        return row[2].substr(1, row[2].size() - 2);
    }

    // Watches every notification posted on the device from this process.
    void watchNotifications()
    {
        Platform::setDeviceRoot(m_device);
        Platform::resetNotifyForTesting();
        Platform::addNotifyMonitor([this](std::string_view name) {
            std::lock_guard guard(m_postedLock);
            m_posted.emplace_back(name);
        });
    }
    // Waits (5 s at most) until the name has been posted.
    bool waitForPost(const std::string& name)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            {
                std::lock_guard guard(m_postedLock);
                if (std::find(m_posted.begin(), m_posted.end(), name) != m_posted.end())
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    std::vector<std::string> posted()
    {
        std::lock_guard guard(m_postedLock);
        return m_posted;
    }

    // Expects a refusal: exit 2, one line on standard error, nothing on standard output.
    static void expectRefused(const Outcome& outcome, const std::string& what)
    {
        EXPECT_EQ(outcome.exitCode, 2) << what;
        EXPECT_EQ(outcome.out, "") << what;
        EXPECT_EQ(lineCount(outcome.err), 1u) << what << ": " << outcome.err;
        EXPECT_TRUE(outcome.err.ends_with("\n")) << what;
    }

    std::string m_scratch;
    std::string m_device;
    std::mutex m_postedLock;
    std::vector<std::string> m_posted;
};

// --- list ---

TEST_F(SettingsCommandTest, ListShowsEveryRowWithItsDefaultAndTheHeaderAndFooter)
{
    auto outcome = settings({ "list" });
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.err, "");
    const auto& listing = outcome.out;
    EXPECT_EQ(listed(listing, "header", 1, "KestrelBannerCell")[2], "\"Kestrel / Developed by PloverDev\"");
    for (const char* key : { "Enabled", "DisableIfNotifications" })
        EXPECT_EQ(valueOf(listing, "switch", key), "on") << key;
    for (const char* key :
        { "DisableIfMusic", "DisableIfFlashlight", "BlockForTouch", "DelayBeforeUnlock", "AutoRetry" })
        EXPECT_EQ(valueOf(listing, "switch", key), "off") << key;
    EXPECT_EQ(valueOf(listing, "slider", "DelayTime"), "2.0 s");
    EXPECT_EQ(valueOf(listing, "slider", "RetryInterval"), "1.0 s");
    EXPECT_EQ(listed(listing, "button", 2, "respring").size(), 4u);
    EXPECT_EQ(listed(listing, "button", 2, "twitterlink").size(), 4u);
    EXPECT_FALSE(fs::exists(devicePath(settingsPath))) << "listing writes nothing";
}

TEST_F(SettingsCommandTest, ListShowsTheValuesTheSettingsFileHoldsNow)
{
    writeSettings(
        Dictionary::fromEntries({ { "Enabled", Value::boolean(false) }, { "DisableIfMusic", Value::integer(1) },
            { "DelayTime", Value::real(4.5) }, { "RetryInterval", Value::integer(3) } }));
    auto listing = settings({ "list" }).out;
    EXPECT_EQ(valueOf(listing, "switch", "Enabled"), "off");
    EXPECT_EQ(valueOf(listing, "switch", "DisableIfMusic"), "on");
    EXPECT_EQ(valueOf(listing, "slider", "DelayTime"), "4.5 s");
    EXPECT_EQ(valueOf(listing, "slider", "RetryInterval"), "3.0 s");
    for (auto& row : table(listing))
        EXPECT_LE(row.size(), 4u) << "nothing to note: " << row[0];
}

TEST_F(SettingsCommandTest, TheFooterShowsTheVersionThePackageDatabaseRecords)
{
    auto status = readAll(devicePath(statusPath));
    auto versionLine = status.find("\nVersion: ");
    ASSERT_NE(versionLine, std::string::npos);
    std::string installed = status.substr(versionLine + 10, status.find('\n', versionLine + 1) - versionLine - 10);
    std::string footer = footerText(settings({ "list" }).out);
    EXPECT_TRUE(footer.ends_with(" " + installed)) << footer;

    status.replace(versionLine + 10, installed.size(), "9.8.7-beta2");
    std::ofstream(devicePath(statusPath), std::ios::trunc) << status;
    std::string changed = footerText(settings({ "list" }).out);
    EXPECT_TRUE(changed.ends_with(" 9.8.7-beta2")) << changed;
    EXPECT_EQ(changed.substr(0, changed.size() - 11), footer.substr(0, footer.size() - installed.size()))
        << "the same notice";
}

TEST_F(SettingsCommandTest, WithoutAnInstalledPackageTheFooterStillShows)
{
    std::string notice = footerText(settings({ "list" }).out);
    notice.resize(notice.rfind(' ') + 1);
    std::ofstream(devicePath(statusPath), std::ios::trunc) << "";
    auto outcome = settings({ "list" });
    EXPECT_EQ(outcome.exitCode, 0);
    auto footer = footerText(outcome.out);
    EXPECT_TRUE(footer.starts_with(notice)) << footer;
    EXPECT_GT(footer.size(), notice.size()) << "a stand-in for the version";

    // The device's tool itself answering garbage, or gone.
    std::ofstream(devicePath("/usr/bin/dpkg-query"), std::ios::trunc) << "#!/bin/sh\nprintf 'Version: \\377\\n'\n";
    outcome = settings({ "list" });
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(footerText(outcome.out), footer);
    fs::remove(devicePath("/usr/bin/dpkg-query"));
    outcome = settings({ "list" });
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(footerText(outcome.out), footer);
}

// A package tool that answers, closes its output and lingers keeps neither the Settings app
// nor a caller reading kestrel's output and errors through pipes waiting for it; what it
// says on standard error still arrives.
TEST_F(SettingsCommandTest, ALingeringPackageToolHoldsNothingOpen)
{
    std::string pidFile = m_scratch + "/tool.pid";
    std::ofstream(devicePath("/usr/bin/dpkg-query"), std::ios::trunc)
        << "#!/bin/sh\necho $$ > '" << pidFile << "'\nprintf 'Package: com.plover.kestrel\\nVersion: 5.5\\n'\n"
        << "echo 'a complaint' >&2\nexec >&-\nexec sleep 60\n";
    int out[2], err[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(err, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::string device = m_device;
    std::vector<std::string> argv { kestrel, "settings", device, "list" };
    std::vector<char*> pointers;
    for (auto& argument : argv)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, kestrel.c_str(), &actions, nullptr, pointers.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);

    std::string texts[2];
    pollfd ends[2] = { { out[0], POLLIN, 0 }, { err[0], POLLIN, 0 } };
    for (int open = 2; open > 0;) {
        ASSERT_GT(::poll(ends, 2, -1), 0);
        for (int i = 0; i < 2; ++i) {
            if (ends[i].fd < 0 || !ends[i].revents)
                continue;
            char buffer[4096];
            ssize_t count = ::read(ends[i].fd, buffer, sizeof(buffer));
            if (count > 0)
                texts[i].append(buffer, count);
            else {
                ::close(ends[i].fd);
                ends[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    pid_t tool = std::stoi(readAll(pidFile));
    std::string stat = readAll("/proc/" + std::to_string(tool) + "/stat");
    bool running = stat.rfind(')') != std::string::npos && stat.substr(stat.rfind(')') + 2, 1) != "Z";
    EXPECT_TRUE(running) << "both ends closed while the tool still lingered";
    ::kill(tool, SIGKILL);
    EXPECT_TRUE(footerText(texts[0]).ends_with(" 5.5")) << texts[0];
    EXPECT_NE(texts[1].find("a complaint"), std::string::npos) << texts[1];
}

TEST_F(SettingsCommandTest, AHostileSettingsFileNeitherHangsNorBreaksTheListing)
{
    ASSERT_EQ(::mkfifo(devicePath(settingsPath).c_str(), 0600), 0);
    auto outcome = settings({ "list" });
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(valueOf(outcome.out, "switch", "Enabled"), "on");
    fs::remove(devicePath(settingsPath));
    std::ofstream(devicePath(settingsPath)) << "bplist00\x01\x02garbage";
    outcome = settings({ "list" });
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(valueOf(outcome.out, "slider", "DelayTime"), "2.0 s");
}

// What the engine makes of stored values the pane would never write: the list shows that,
// and says what is stored when it differs, or lies beyond the slider.
TEST_F(SettingsCommandTest, ListShowsWhatTheEngineUsesAndMarksWhatIsStoredOtherwise)
{
    writeSettings(Dictionary::fromEntries({ { "Enabled", Value::integer(5) }, { "DelayTime", Value::string("abc") },
        { "RetryInterval", Value::real(7.25) }, { "AutoRetry", Value::string("yes") },
        { "DisableIfMusic", Value::real(0.5) } }));
    auto listing = settings({ "list" }).out;
    auto row = [&](std::string_view type, std::string_view key) { return listed(listing, type, 2, key); };
    EXPECT_EQ(row("switch", "Enabled"), (std::vector<std::string> { "switch", "\"Enabled\"", "Enabled", "on", "stored: 5" }));
    EXPECT_EQ(row("slider", "DelayTime"),
        (std::vector<std::string> { "slider", "\"Delay time\"", "DelayTime", "0.0 s", "stored: \"abc\"" }));
    EXPECT_EQ(row("switch", "AutoRetry").back(), "stored: \"yes\"") << "text is no switch position to the engine";
    EXPECT_EQ(row("switch", "AutoRetry")[3], "off");
    EXPECT_EQ(row("switch", "DisableIfMusic")[3], "on");
    EXPECT_EQ(row("slider", "RetryInterval")[3], "7.25 s") << "shown as stored, beyond the slider";
    EXPECT_EQ(row("slider", "RetryInterval")[4], "out of the slider's range 0.1 to 5.0");

    // The engine agrees: Enabled 5 acts, a DelayTime it reads as 0 dismisses at once.
    writeSettings(Dictionary::fromEntries({ { "Enabled", Value::integer(5) }, { "DelayBeforeUnlock", Value::boolean(true) },
        { "DelayTime", Value::string("abc") } }));
    std::ofstream(m_scratch + "/delay.scenario")
        << "boot\nface match\nexpect decision delay-scheduled\nexpect lockscreen dismissed\n";
    auto ran = ::run({ "run", m_device, m_scratch + "/delay.scenario" }, m_scratch);
    EXPECT_EQ(ran.exitCode, 0) << ran.out << ran.err;

    // The pane's image writes the number as the list does: 7.25, not 7.2.
    ASSERT_EQ(settings({ "set", "DelayTime", "7.25" }).exitCode, 0);
    EXPECT_EQ(valueOf(settings({ "list" }).out, "slider", "DelayTime"), "7.25 s");
}

// One way to read a typed value: a switch takes its words in any case, a slider a plain
// decimal number, and a refusal echoes the word as typed.
TEST_F(SettingsCommandTest, SetReadsSwitchWordsAndNumbersOneWay)
{
    for (auto [word, on] : { std::pair { "ON", true }, std::pair { "Off", false }, std::pair { "TRUE", true },
             std::pair { "false", false }, std::pair { "1", true }, std::pair { "0", false }, std::pair { "Yes", true },
             std::pair { "NO", false } }) {
        ASSERT_EQ(settings({ "set", "Enabled", word }).exitCode, 0) << word;
        EXPECT_EQ(*settingsFile()->find("Enabled"), Value::boolean(on)) << word;
    }
    for (auto [word, number] : { std::pair { "+2", 2.0 }, std::pair { ".5", 0.5 }, std::pair { "5.", 5.0 },
             std::pair { "1e1", 10.0 }, std::pair { "4.9e-324", 4.9e-324 }, std::pair { "-0", 0.0 } }) {
        ASSERT_EQ(settings({ "set", "DelayTime", word }).exitCode, 0) << word;
        EXPECT_EQ(settingsFile()->find("DelayTime")->doubleValue(), number) << word;
    }
    auto refused = settings({ "set", "Enabled", "maybe" });
    EXPECT_EQ(refused.err, "kestrel: Enabled is a switch: use yes/no, on/off, true/false or 1/0, not maybe\n");
    refused = settings({ "set", "DelayTime", "1E+1x" });
    EXPECT_EQ(refused.err, "kestrel: DelayTime is a slider: use a number, not 1E+1x\n");
    refused = settings({ "set", "DelayTime", "+11" });
    EXPECT_EQ(refused.err, "kestrel: DelayTime is a slider from 0 to 10: +11 is outside it\n");
    refused = settings({ "set", "DelayTime", "\x1b[2J" });
    EXPECT_EQ(refused.err, "kestrel: DelayTime is a slider: use a number, not \\x1b[2J\n") << "control bytes escaped";

    // The scenario language reads the same words the same way.
    std::ofstream(m_scratch + "/pane.scenario") << "pane set Enabled OFF\nexpect setting Enabled=no\n"
                                                   "pane set DelayTime +.5e1\nexpect setting DelayTime=5.0\n"
                                                   "settings DelayTime=.5\nexpect setting DelayTime=0.5\n";
    auto ran = ::run({ "run", m_device, m_scratch + "/pane.scenario" }, m_scratch);
    EXPECT_EQ(ran.exitCode, 0) << ran.out << ran.err;
}

// --- set ---

TEST_F(SettingsCommandTest, SetStoresASwitchAsABooleanAndASliderAsAReal)
{
    auto outcome = settings({ "set", "Enabled", "no" });
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.err, "");
    ASSERT_EQ(settings({ "set", "DelayTime", "3" }).exitCode, 0);
    ASSERT_EQ(settings({ "set", "RetryInterval", "0.25" }).exitCode, 0);
    ASSERT_EQ(settings({ "set", "AutoRetry", "yes" }).exitCode, 0);
    auto file = settingsFile();
    ASSERT_TRUE(file);
    EXPECT_EQ(*file,
        Dictionary::fromEntries({ { "Enabled", Value::boolean(false) }, { "DelayTime", Value::real(3) },
            { "RetryInterval", Value::real(0.25) }, { "AutoRetry", Value::boolean(true) } }));
    EXPECT_TRUE(file->find("DelayTime")->isReal()) << "a whole number typed for a slider is still a real";

    auto listing = settings({ "list" }).out;
    EXPECT_EQ(valueOf(listing, "switch", "Enabled"), "off");
    EXPECT_EQ(valueOf(listing, "slider", "DelayTime"), "3.0 s");
    EXPECT_EQ(valueOf(listing, "slider", "RetryInterval"), "0.25 s");
}

TEST_F(SettingsCommandTest, SetKeepsTheOtherEntriesAndAcceptsTheSlidersEnds)
{
    writeSettings(
        Dictionary::fromEntries({ { "Unshown", Value::string("kept") }, { "Enabled", Value::boolean(false) } }));
    EXPECT_EQ(settings({ "set", "DelayTime", "0" }).exitCode, 0);
    EXPECT_EQ(settings({ "set", "DelayTime", "10" }).exitCode, 0) << "both ends are inside the range";
    EXPECT_EQ(*settingsFile(),
        Dictionary::fromEntries({ { "Unshown", Value::string("kept") }, { "Enabled", Value::boolean(false) },
            { "DelayTime", Value::real(10) } }));
}

TEST_F(SettingsCommandTest, SetPostsTheRowsChangeNotification)
{
    watchNotifications();
    ASSERT_EQ(settings({ "set", "DelayTime", "3" }).exitCode, 0);
    EXPECT_TRUE(waitForPost("com.plover.kestrel/preferences.changed"));
}

TEST_F(SettingsCommandTest, SetRefusesBadInputWithOneLineAndExit2AndWritesNothing)
{
    const std::vector<std::vector<std::string>> refused = {
        { "Nope", "yes" },
        { "enabled", "yes" },
        { "Enabled", "maybe" },
        { "Enabled", "" },
        { "Enabled", "\"yes\"" },
        { "DelayTime", "fast" },
        { "DelayTime", "" },
        { "DelayTime", "11" },
        { "DelayTime", "-1" },
        { "DelayTime", "10.000001" },
        { "RetryInterval", "0.05" },
        { "DelayTime", "nan" },
        { "DelayTime", "inf" },
        { "DelayTime", "1e999" },
        { "DelayTime", "3 " },
        { "DelayTime", "0x3" },
        { "respring", "yes" },
        { "", "yes" },
    };
    for (bool withFile : { false, true }) {
        if (withFile)
            writeSettings(
                Dictionary::fromEntries({ { "Enabled", Value::boolean(true) }, { "DelayTime", Value::real(2.5) } }));
        auto before = readIfPresent(devicePath(settingsPath));
        for (auto& words : refused) {
            std::string what = "set '" + words[0] + "' '" + words[1] + "'";
            expectRefused(settings({ "set", words[0], words[1] }), what);
            EXPECT_EQ(readIfPresent(devicePath(settingsPath)), before) << what << ": the file's bytes are unchanged";
        }
    }
    size_t entries = size_t(
        std::distance(fs::directory_iterator(devicePath("/var/mobile/Library/Preferences")), fs::directory_iterator()));
    EXPECT_EQ(entries, 1u) << "no stray files beside the settings file";
}

// --- tap ---

TEST_F(SettingsCommandTest, TapRespringPostsTheRestartNotification)
{
    watchNotifications();
    auto outcome = settings({ "tap", "respring" });
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_TRUE(waitForPost("com.plover.kestrel.respring"));
    EXPECT_FALSE(fs::exists(devicePath(settingsPath)));
}

TEST_F(SettingsCommandTest, TapRespringWithNothingListeningStillSucceeds)
{
    auto outcome = settings({ "tap", "respring" });
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.err, "");
}

TEST_F(SettingsCommandTest, TapTwitterlinkOpensTheProfile)
{
    auto outcome = settings({ "tap", "twitterlink" });
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_TRUE(outcome.out.starts_with("opened https://")) << outcome.out;
    EXPECT_EQ(lineCount(outcome.out), 1u);
}

TEST_F(SettingsCommandTest, TapRefusesAnUnknownAction)
{
    for (const char* action : { "reboot", "Respring", "", "setPreferenceValue:specifier:" })
        expectRefused(settings({ "tap", action }), std::string("tap '") + action + "'");
}

// --- render ---

TEST_F(SettingsCommandTest, RenderWritesAPNGOfTheScreensWidthTimesItsScale)
{
    std::string image = m_scratch + "/pane.png";
    auto outcome = settings({ "render", image });
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    cairo_surface_t* surface = cairo_image_surface_create_from_png(image.c_str());
    ASSERT_EQ(cairo_surface_status(surface), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(surface), 375 * 2);
    EXPECT_GE(cairo_image_surface_get_height(surface), 667 * 2);
    cairo_surface_destroy(surface);

    Dictionary screen = Dictionary::fromEntries(
        { { "Width", Value::integer(320) }, { "Height", Value::integer(568) }, { "Scale", Value::integer(3) } });
    ASSERT_TRUE(Platform::Plist::writeFileAtomically(
        devicePath("/System/Library/CoreServices/Screen.plist"), Value(std::move(screen))));
    ASSERT_EQ(settings({ "render", image }).exitCode, 0);
    surface = cairo_image_surface_create_from_png(image.c_str());
    ASSERT_EQ(cairo_surface_status(surface), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(surface), 320 * 3);
    cairo_surface_destroy(surface);
}

TEST_F(SettingsCommandTest, RenderIntoAFolderThatDoesNotExistIsRefused)
{
    expectRefused(settings({ "render", m_scratch + "/missing/pane.png" }), "render into a missing folder");
    EXPECT_FALSE(fs::exists(m_scratch + "/missing"));
}

// --- Errors ---

TEST_F(SettingsCommandTest, ADirectoryThatIsNotADeviceIsRefusedAndNothingIsCreated)
{
    std::string empty = m_scratch + "/empty";
    fs::create_directories(empty);
    for (const auto& arguments : std::vector<std::vector<std::string>> {
             { "list" }, { "set", "Enabled", "no" }, { "tap", "respring" }, { "render", m_scratch + "/x.png" } }) {
        std::vector<std::string> command { "settings", empty };
        command.insert(command.end(), arguments.begin(), arguments.end());
        auto outcome = run(command, m_scratch);
        expectRefused(outcome, "settings on an empty folder " + arguments[0]);
        EXPECT_TRUE(fs::is_empty(empty)) << "nothing created in it";
        EXPECT_FALSE(fs::exists(m_scratch + "/x.png"));
    }
    auto missing = run({ "settings", m_scratch + "/nowhere", "list" }, m_scratch);
    expectRefused(missing, "a missing folder");
    EXPECT_FALSE(fs::exists(m_scratch + "/nowhere"));

    std::ofstream(m_scratch + "/plain-file") << "x";
    expectRefused(run({ "settings", m_scratch + "/plain-file", "list" }, m_scratch), "a file");
}

TEST_F(SettingsCommandTest, UsageErrorsExitWith2AndTouchNothing)
{
    writeSettings(Dictionary::fromEntries({ { "Enabled", Value::boolean(true) } }));
    auto before = readIfPresent(devicePath(settingsPath));
    const std::vector<std::vector<std::string>> wrong = {
        { "settings" },
        { "settings", m_device },
        { "settings", m_device, "bogus" },
        { "settings", m_device, "list", "extra" },
        { "settings", m_device, "set", "Enabled" },
        { "settings", m_device, "set", "Enabled", "no", "extra" },
        { "settings", m_device, "tap" },
        { "settings", m_device, "render" },
        { "settings", m_device, "render", m_scratch + "/a.png", "extra" },
    };
    for (auto& arguments : wrong) {
        auto outcome = run(arguments, m_scratch);
        std::string what = std::to_string(arguments.size()) + " words ending " + arguments.back();
        EXPECT_EQ(outcome.exitCode, 2) << what;
        EXPECT_EQ(outcome.out, "") << what;
        EXPECT_FALSE(outcome.err.empty()) << what;
        EXPECT_EQ(readIfPresent(devicePath(settingsPath)), before) << what;
    }
    EXPECT_FALSE(fs::exists(m_scratch + "/a.png"));
}

TEST_F(SettingsCommandTest, WithoutThePaneInstalledTheAnswerSaysSo)
{
    fs::remove(devicePath("/Library/PreferenceLoader/Preferences/KestrelPrefs.plist"));
    auto outcome = settings({ "list" });
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_EQ(outcome.err, "kestrel: no Settings entry KestrelPrefs.plist: its pane is not installed\n");
}

TEST_F(SettingsCommandTest, ABundleWithACorruptRootListsNothingAndDoesNotCrash)
{
    std::ofstream(devicePath("/Library/PreferenceBundles/KestrelPrefs.bundle/Root.plist"), std::ios::trunc)
        << "<plist><dict><key>items";
    auto outcome = settings({ "list" });
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "") << "an empty page";
    expectRefused(settings({ "set", "Enabled", "no" }), "set on an empty page");
    EXPECT_FALSE(fs::exists(devicePath(settingsPath)));
}

} // namespace
