#include "platform/fs/DeviceRoot.h"
#include "platform/log/SystemLog.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr const char* springBoardPath = "/System/Library/CoreServices/SpringBoard.app/SpringBoard";

struct KillallResult {
    int exitCode { -1 };
    std::string errorOutput;
};

// Two devices whose roots differ only by a suffix (dev, dev2), each with killall installed, and
// the processes this test started, killed by pid at the end.
class KillallTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "kestrel-killall-XXXXXX").string();
        ASSERT_TRUE(::mkdtemp(pattern.data()));
        m_base = pattern;
        for (auto root : { device(), otherDevice() }) {
            fs::create_directories(root + "/usr/bin");
            fs::copy_file(KESTREL_BUILD_DIR "/bin/killall", root + "/usr/bin/killall");
        }
    }

    void TearDown() override
    {
        for (pid_t pid : m_started) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        fs::remove_all(m_base);
    }

    std::string device() const { return m_base + "/dev"; }
    std::string otherDevice() const { return m_base + "/dev2"; }

    // Starts a copy of sleep installed at devicePath under root.
    pid_t startSleeper(const std::string& root, const std::string& devicePath)
    {
        fs::path program = root + devicePath;
        fs::create_directories(program.parent_path());
        if (!fs::exists(program))
            fs::copy_file("/bin/sleep", program);
        pid_t pid = -1;
        std::string path = program.string();
        char* argv[] = { path.data(), const_cast<char*>("600"), nullptr };
        char* environment[] = { nullptr };
        EXPECT_EQ(::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environment), 0);
        m_started.push_back(pid);
        // Until it has exec'd, /proc/PID/exe still names this test program.
        for (int i = 0; i < 500 && fs::read_symlink("/proc/" + std::to_string(pid) + "/exe").string() != path; ++i)
            std::this_thread::sleep_for(2ms);
        return pid;
    }

    // Runs root's killall with an empty environment, as the system does.
    KillallResult killall(const std::string& root, std::vector<std::string> arguments)
    {
        std::string program = root + "/usr/bin/killall";
        arguments.insert(arguments.begin(), program);
        std::vector<char*> argv;
        for (auto& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        char* environment[] = { nullptr };
        int errors[2];
        EXPECT_EQ(::pipe2(errors, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, errors[1], STDERR_FILENO);
        pid_t pid = -1;
        KillallResult result;
        int error = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environment);
        posix_spawn_file_actions_destroy(&actions);
        ::close(errors[1]);
        if (error) {
            ::close(errors[0]);
            return result;
        }
        char buffer[4096];
        ssize_t length;
        while ((length = ::read(errors[0], buffer, sizeof(buffer))) > 0)
            result.errorOutput.append(buffer, static_cast<size_t>(length));
        ::close(errors[0]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result;
    }

    // The signal that ended pid, 0 if it is still running, after a bounded wait.
    int terminatingSignal(pid_t pid, bool expectEnd)
    {
        for (int i = 0; i < (expectEnd ? 500 : 1); ++i) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                std::erase(m_started, pid);
                return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
            }
            std::this_thread::sleep_for(10ms);
        }
        return 0;
    }

    std::string m_base;
    std::vector<pid_t> m_started;
};

} // namespace

// killall -9 NAME kills that name on its own device only: not the other device (whose root
// merely extends this one's), not another program of the device, not the machine's sleep.
TEST_F(KillallTest, KillsOnlyItsOwnDevicesProcessesOfThatName)
{
    pid_t target = startSleeper(device(), springBoardPath);
    pid_t secondTarget = startSleeper(device(), "/Applications/Other.app/SpringBoard");
    pid_t otherDevice = startSleeper(this->otherDevice(), springBoardPath);
    pid_t otherProgram = startSleeper(device(), "/usr/libexec/backboardd");
    pid_t unrelated = startSleeper(m_base + "/machine", "/sleep");

    auto result = killall(device(), { "-9", "SpringBoard" });
    EXPECT_EQ(result.exitCode, 0) << result.errorOutput;
    EXPECT_EQ(terminatingSignal(target, true), SIGKILL);
    EXPECT_EQ(terminatingSignal(secondTarget, true), SIGKILL);
    EXPECT_EQ(terminatingSignal(otherDevice, false), 0);
    EXPECT_EQ(terminatingSignal(otherProgram, false), 0);
    EXPECT_EQ(terminatingSignal(unrelated, false), 0);

    Platform::setDeviceRoot(device());
    auto log = Platform::readSystemLog();
    Platform::clearDeviceRoot();
    auto line = "killall: sent signal 9 to SpringBoard[" + std::to_string(target) + "]";
    EXPECT_TRUE(
        std::any_of(log.begin(), log.end(), [&](auto& entry) { return entry.find(line) != std::string::npos; }));
}

// The signal may be given by number or by name; without one it is SIGTERM. A program
// replaced on disk while running still belongs to its device.
TEST_F(KillallTest, SignalForms)
{
    std::pair<std::vector<std::string>, int> cases[] = {
        { { "SpringBoard" }, SIGTERM },
        { { "-KILL", "SpringBoard" }, SIGKILL },
        { { "-SIGHUP", "SpringBoard" }, SIGHUP },
        { { "-term", "--", "SpringBoard" }, SIGTERM },
        { { "-10", "SpringBoard" }, SIGUSR1 },
    };
    for (auto& [arguments, expected] : cases) {
        pid_t target = startSleeper(device(), springBoardPath);
        fs::remove(device() + springBoardPath);
        EXPECT_EQ(killall(device(), arguments).exitCode, 0);
        EXPECT_EQ(terminatingSignal(target, true), expected) << arguments.front();
    }
}

// No process of the device matches: exit 1 and the customary message. Bad usage: exit 2.
TEST_F(KillallTest, NoMatchAndUsageErrors)
{
    pid_t other = startSleeper(otherDevice(), springBoardPath);
    auto none = killall(device(), { "-9", "SpringBoard" });
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.errorOutput.find("No matching processes belonging to you were found"), std::string::npos);
    EXPECT_EQ(terminatingSignal(other, false), 0);
    EXPECT_EQ(killall(device(), { "-9", "killall" }).exitCode, 1) << "never itself";

    for (auto arguments : std::vector<std::vector<std::string>> { {}, { "-9" }, { "-BOGUS", "SpringBoard" },
             { "-0", "SpringBoard" }, { "-65", "SpringBoard" }, { "-9x", "SpringBoard" },
             { "-99999999999999999999", "SpringBoard" }, { "-9", "" } })
        EXPECT_EQ(killall(device(), arguments).exitCode, 2) << (arguments.empty() ? "" : arguments.front());
    EXPECT_EQ(terminatingSignal(other, false), 0);
}
