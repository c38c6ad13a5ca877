// The kestrel program as a newcomer meets it: help and version, exit statuses that tell what
// happened, input that cannot hang it, flood it or write to the terminal, and devices that
// keep nothing of processes long gone.
#include "support/FileSnapshot.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;

const std::string kestrel = std::string(KESTREL_BUILD_DIR) + "/bin/kestrel";

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

class CommandLineTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "kestrel-command-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_scratch = fs::canonical(pattern).string();
        m_device = m_scratch + "/device";
        ASSERT_EQ(run({ "init", m_device }).exitCode, 0);
    }
    void TearDown() override
    {
        std::error_code error;
        fs::remove_all(m_scratch, error);
    }

    // Runs kestrel with the arguments and standard input (no shell); standard output goes to
    // `output` when given (a descriptor), else is caught.
    Outcome run(const std::vector<std::string>& arguments, const std::string& input = "", int output = -1)
    {
        std::string in = m_scratch + "/in", out = m_scratch + "/out", err = m_scratch + "/err";
        std::ofstream(in, std::ios::trunc) << input;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
        if (output >= 0)
            posix_spawn_file_actions_adddup2(&actions, output, 1);
        else
            posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> argv { kestrel };
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<char*> pointers;
        for (auto& argument : argv)
            pointers.push_back(argument.data());
        pointers.push_back(nullptr);
        pid_t pid = -1;
        Outcome outcome;
        int error = posix_spawn(&pid, kestrel.c_str(), &actions, nullptr, pointers.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (error)
            return outcome;
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
        outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        outcome.out = output >= 0 ? "" : readAll(out);
        outcome.err = readAll(err);
        return outcome;
    }

    std::string m_scratch;
    std::string m_device;
};

TEST_F(CommandLineTest, HelpAndVersionAnswerAsPeopleExpect)
{
    for (const char* asked : { "--help", "-h", "help" }) {
        auto help = run({ asked });
        EXPECT_EQ(help.exitCode, 0) << asked;
        EXPECT_TRUE(help.out.starts_with("usage: kestrel")) << asked << ": " << help.out;
        EXPECT_NE(help.out.find("kestrel settings DIR list"), std::string::npos) << asked;
        EXPECT_EQ(help.err, "") << asked;
    }
    for (auto& words :
        std::vector<std::vector<std::string>> { { "init", "--help" }, { "help", "init" }, { "init", "-h" } }) {
        auto help = run(words);
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_TRUE(help.out.starts_with("usage: kestrel init DIR [--companion | --stock] [--rootless]\n")) << help.out;
    }
    auto settingsHelp = run({ "settings", m_device, "--help" });
    EXPECT_EQ(settingsHelp.exitCode, 0);
    EXPECT_TRUE(settingsHelp.out.starts_with("usage: kestrel settings DIR")) << settingsHelp.out;

    auto version = run({ "--version" });
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "kestrel " KESTREL_VERSION "\n");

    auto bare = run({});
    EXPECT_EQ(bare.exitCode, 2);
    EXPECT_EQ(bare.out, "");
    EXPECT_TRUE(bare.err.starts_with("usage: kestrel")) << bare.err;
    auto bogus = run({ "bogus" });
    EXPECT_EQ(bogus.exitCode, 2);
    EXPECT_TRUE(bogus.err.starts_with("kestrel: no command bogus\nusage: kestrel")) << bogus.err;
}

TEST_F(CommandLineTest, ExitStatusesTellTheTruth)
{
    EXPECT_EQ(run({ "boot", m_device }, "face match\nexpect lockscreen dismissed\n").exitCode, 0);
    EXPECT_EQ(run({ "boot", m_device }, "expect lockscreen shown\nlock\nexpect lockscreen dismissed\n").exitCode, 1)
        << "a failed check";
    auto malformed = run({ "boot", m_device }, "face smile\nlock\n");
    EXPECT_EQ(malformed.exitCode, 2);
    EXPECT_NE(malformed.err.find("stdin:1: usage: face"), std::string::npos) << malformed.err;

    std::string fifo = m_scratch + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (auto& file : { m_scratch, fifo, std::string("/proc/self/mem"), std::string("/dev/zero") }) {
        auto refused = run({ "run", m_device, file });
        EXPECT_EQ(refused.exitCode, 2) << file;
        EXPECT_EQ(refused.err, "kestrel: " + file + ": not a regular file\n");
    }

    auto tapped = run({ "settings", m_device, "tap", "respring" });
    EXPECT_EQ(tapped.exitCode, 0);
    EXPECT_EQ(tapped.out, "posted the restart notification; the device is not booted, so nothing restarted\n");

    // A reader that stops early: the printer ends quietly.
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ::close(ends[0]);
    std::string big = m_scratch + "/big.plist";
    {
        std::ofstream stream(big);
        stream << "<plist><dict>";
        for (int i = 0; i < 20000; ++i)
            stream << "<key>k" << i << "</key><string>some text to fill the pipe</string>";
        stream << "</dict></plist>";
    }
    auto printed = run({ "plist", "print", big }, "", ends[1]);
    ::close(ends[1]);
    EXPECT_EQ(printed.exitCode, 0);
    EXPECT_EQ(printed.err, "");
}

TEST_F(CommandLineTest, ADeviceKeepsItsSchemeAndRefusesWhatIsBuiltForTheOther)
{
    using TestSupport::snapshot;
    std::string rootless = m_scratch + "/rootless";
    ASSERT_EQ(run({ "init", rootless, "--rootless" }).exitCode, 0);
    auto again = run({ "init", rootless });
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_TRUE(fs::exists(rootless + "/var/jb/Library/MobileSubstrate/DynamicLibraries/Kestrel.dylib"))
        << "init without --rootless keeps the device rootless";
    EXPECT_FALSE(fs::exists(rootless + "/Library"));

    const std::string packages = std::string(KESTREL_BUILD_DIR) + "/packages/";
    const std::string package = "com.plover.nightjar_" KESTREL_VERSION "_";
    auto rootful = snapshot(m_device), rootlessBefore = snapshot(rootless);
    struct Refusal {
        std::vector<std::string> words;
        std::string line;
    };
    for (auto& [words, line] : std::vector<Refusal> {
             { { "init", m_device, "--rootless" },
                 m_device
                     + " is a rootful device, and a device keeps the kind it was laid out as; lay out a rootless "
                       "device in an empty folder" },
             { { "install", rootless, packages + package + "amd64.deb" },
                 "cannot install " + packages + package
                     + "amd64.deb: it is built for rootful jailbreaks "
                       "(/Library/MobileSubstrate/DynamicLibraries/Nightjar.dylib is outside /var/jb), and the "
                       "device is rootless" },
             { { "install", m_device, packages + "rootless/" + package + "amd64.deb" },
                 "cannot install " + packages + "rootless/" + package
                     + "amd64.deb: it is built for rootless jailbreaks "
                       "(/var/jb/Library/MobileSubstrate/DynamicLibraries/Nightjar.dylib is under /var/jb), and "
                       "the device is rootful" },
         }) {
        auto refused = run(words);
        EXPECT_EQ(refused.exitCode, 2) << words[0];
        EXPECT_EQ(refused.err, "kestrel: " + line + "\n");
        EXPECT_EQ(refused.out, "");
    }
    EXPECT_EQ(snapshot(m_device), rootful) << "a refusal changes nothing";
    EXPECT_EQ(snapshot(rootless), rootlessBefore) << "a refusal changes nothing";

    // A rootless jailbreak runs iOS 15.0 and later: an earlier profile is refused before the
    // device boots, and without one the device runs 15.0.
    std::string earlier = m_scratch + "/earlier.scenario";
    std::ofstream(earlier) << "# set-up\nios 14.0\nboot\n";
    auto profile = run({ "run", rootless, earlier });
    EXPECT_EQ(profile.exitCode, 2);
    EXPECT_EQ(profile.err, "kestrel: " + earlier + ":2: a rootless device runs iOS 15.0 and later, not 14.0\n");
    EXPECT_EQ(profile.out, "");
    auto asked = run({ "boot", rootless }, "state\n");
    EXPECT_NE(asked.out.find(" ios=15.0 "), std::string::npos) << asked.out;
    EXPECT_EQ(run({ "run", m_device, earlier }).exitCode, 0) << "a rootful device runs 14.0";
}

TEST_F(CommandLineTest, InputCannotFloodHangOrWriteToTheTerminal)
{
    // One line of 300 MB: refused at the line cap, not read whole.
    std::string huge = m_scratch + "/huge.scenario";
    {
        int fd = ::open(huge.c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 300 * 1024 * 1024), 0);
        ::close(fd);
    }
    auto refused = run({ "run", m_device, huge });
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(refused.err, "kestrel: " + huge + ":1: a line longer than 65536 bytes\n");

    std::string escape = m_scratch + "/escape.scenario";
    std::ofstream(escape) << "boot\n\x1b[2Jwipe\n";
    auto shown = run({ "run", m_device, escape });
    EXPECT_EQ(shown.exitCode, 2);
    EXPECT_EQ(shown.err.find('\x1b'), std::string::npos) << "no raw control byte";
    EXPECT_NE(shown.err.find("unknown command \\x1b[2Jwipe"), std::string::npos) << shown.err;
    auto typed = run({ "boot", m_device }, "\x1b]0;title\x07\n");
    EXPECT_EQ(typed.err.find('\x1b'), std::string::npos) << typed.err;

    std::string longName = m_scratch + "/post.scenario";
    std::ofstream(longName) << "post " << std::string(1025, 'n') << "\n";
    auto post = run({ "run", m_device, longName });
    EXPECT_EQ(post.exitCode, 2);
    EXPECT_EQ(post.err,
        "kestrel: " + longName + ":1: a notification name is 1 to 1024 bytes of UTF-8 (this one is 1025 bytes)\n");
}

TEST_F(CommandLineTest, BootsLeaveNoNotifyEndpointsOfDeadProcesses)
{
    std::string registry = m_device + "/var/run/notify";
    fs::create_directories(registry);
    // A process killed long ago left its registration behind.
    pid_t dead = 0;
    for (pid_t candidate = 4000000; candidate > 300; --candidate) {
        if (::kill(candidate, 0) != 0 && errno == ESRCH) {
            dead = candidate;
            break;
        }
    }
    ASSERT_NE(dead, 0);
    std::ofstream(registry + "/" + std::to_string(dead)) << "stale";
    for (int boot = 0; boot < 3; ++boot)
        ASSERT_EQ(run({ "boot", m_device }, "face match\n").exitCode, 0);
    std::vector<std::string> left;
    for (auto& entry : fs::directory_iterator(registry))
        left.push_back(entry.path().filename().string());
    EXPECT_TRUE(left.empty()) << left.size() << " left, the first " << left.front();
}

} // namespace
