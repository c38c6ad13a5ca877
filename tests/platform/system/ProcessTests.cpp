#include "ReapWatcher.h"
#include "TemporaryDevice.h"
#include "TimelineRecorder.h"
#include "platform/process/ChildReaper.h"
#include "platform/process/RunAndReadOutput.h"
#include "platform/process/Spawn.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace Platform;

namespace {

std::string readHostFile(const std::string& path)
{
    std::ifstream stream(path, std::ios::binary);
    std::stringstream contents;
    contents << stream.rdbuf();
    return contents.str();
}

class SpawnTest : public testing::Test {
protected:
    TemporaryDevice m_device;
    TimelineRecorder m_timeline;
    ReapWatcher m_reaps;
};

} // namespace

TEST_F(SpawnTest, MissingExecutableIsAnErrorResult)
{
    pid_t pid = -1;
    EXPECT_EQ(spawn(&pid, "/usr/bin/killall", { "killall", "-9", "SpringBoard" }, {}), ENOENT);
    EXPECT_EQ(pid, -1);
    // The attempt is announced before it is made, and its failure after.
    EXPECT_EQ(m_timeline.events(),
        (std::vector<std::string> { "spawn /usr/bin/killall -9 SpringBoard",
            "spawn-failed /usr/bin/killall error=No such file or directory" }));
}

TEST_F(SpawnTest, NonExecutableFileIsAnErrorResult)
{
    m_device.writeFile("/usr/bin/killall", "#!/bin/sh\n", 0644);
    EXPECT_EQ(spawn(nullptr, "/usr/bin/killall", { "killall" }, {}), EACCES);
    EXPECT_TRUE(m_timeline.contains("spawn-failed /usr/bin/killall error=Permission denied"));
}

TEST_F(SpawnTest, ChildGetsExactlyTheGivenEnvironmentAndIsReaped)
{
    // The shell's own environment as exec gave it, before the shell adds anything.
    m_device.writeScript("/usr/bin/killall", "/bin/cat /proc/$$/environ > \"$1\"; exit 3");
    std::string emptyOutput = m_device.hostPath("/empty-environment");
    std::string givenOutput = m_device.hostPath("/given-environment");

    pid_t pid = -1;
    ASSERT_EQ(spawn(&pid, "/usr/bin/killall", { "killall", emptyOutput }, {}), 0);
    auto status = m_reaps.waitFor(pid);
    ASSERT_TRUE(status) << "child " << pid << " was not reaped";
    ASSERT_TRUE(*status);
    EXPECT_TRUE(WIFEXITED(**status));
    EXPECT_EQ(WEXITSTATUS(**status), 3);
    EXPECT_EQ(readHostFile(emptyOutput), "");
    // Reaped means no zombie is left: the child is no longer ours to wait for.
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);

    ASSERT_EQ(spawn(&pid, "/usr/bin/killall", { "killall", givenOutput }, { "KESTREL=1", "GREETING=two words" }), 0);
    ASSERT_TRUE(m_reaps.waitFor(pid));
    using namespace std::string_literals;
    EXPECT_EQ(readHostFile(givenOutput), "KESTREL=1\0GREETING=two words\0"s);
}

TEST_F(SpawnTest, SuccessIsOnTheTimelineWithTheArguments)
{
    m_device.writeScript("/usr/bin/killall", "exit 0");
    uint64_t reapedBefore = ChildReaper::shared().reapedCount();
    pid_t pid = -1;
    ASSERT_EQ(spawn(&pid, "/usr/bin/killall", { "killall", "-9", "SpringBoard" }, {}), 0);
    EXPECT_GT(pid, 0);
    EXPECT_EQ(m_timeline.events(), std::vector<std::string> { "spawn /usr/bin/killall -9 SpringBoard" });
    ASSERT_TRUE(m_reaps.waitFor(pid));
    EXPECT_GT(ChildReaper::shared().reapedCount(), reapedBefore);
}

namespace {

class RunAndReadOutputTest : public testing::Test {
protected:
    TemporaryDevice m_device;
    ReapWatcher m_reaps;
};

} // namespace

TEST_F(RunAndReadOutputTest, ReadsLargeOutputToTheEnd)
{
    m_device.writeScript("/usr/bin/dpkg-query", "head -c 1048576 /dev/zero | tr '\\0' x; echo error >&2");
    auto result = runAndReadOutput("/usr/bin/dpkg-query", {}, "/");
    ASSERT_TRUE(result.started);
    EXPECT_TRUE(result.complete);
    EXPECT_EQ(result.output.size(), 1048576u);
    EXPECT_EQ(result.output.find_first_not_of('x'), std::string::npos);
}

// The caller gets the output as soon as the program closes it; the reaper, not the caller,
// waits for the program's end, however it ends.
TEST_F(RunAndReadOutputTest, ReturnsOnceOutputClosesAndTheReaperCollectsTheChild)
{
    m_device.writeScript("/usr/bin/linger", "echo $$; exec >&-; sleep 1.5; exit 4");
    auto before = std::chrono::steady_clock::now();
    auto result = runAndReadOutput("/usr/bin/linger", {}, "/");
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1000)) << "waited for the exit";
    ASSERT_TRUE(result.started);
    EXPECT_TRUE(result.complete);
    EXPECT_EQ(result.output, std::to_string(result.pid) + "\n");
    EXPECT_FALSE(m_reaps.hasReaped(result.pid)) << "still running";
    auto status = m_reaps.waitFor(result.pid);
    ASSERT_TRUE(status && *status) << "child " << result.pid << " was not reaped";
    EXPECT_TRUE(WIFEXITED(**status) && WEXITSTATUS(**status) == 4);
    EXPECT_EQ(::waitpid(result.pid, nullptr, WNOHANG), -1) << "a zombie was left";
    EXPECT_EQ(errno, ECHILD);

    m_device.writeScript("/usr/bin/crash", "echo partial; kill -9 $$");
    result = runAndReadOutput("/usr/bin/crash", {}, "/");
    EXPECT_TRUE(result.complete);
    EXPECT_EQ(result.output, "partial\n");
    status = m_reaps.waitFor(result.pid);
    ASSERT_TRUE(status && *status);
    EXPECT_TRUE(WIFSIGNALED(**status) && WTERMSIG(**status) == SIGKILL);
}

TEST_F(RunAndReadOutputTest, OutputPastTheLimitIsCutAndMarkedIncomplete)
{
    // Endless output: the reader stops at the limit, and the writer dies of the closed pipe.
    m_device.writeScript("/usr/bin/flood", "exec yes Version: 1.0");
    auto result = runAndReadOutput("/usr/bin/flood", {}, "/", 100000);
    ASSERT_TRUE(result.started);
    EXPECT_FALSE(result.complete);
    EXPECT_EQ(result.output.size(), 100000u);
    EXPECT_TRUE(m_reaps.waitFor(result.pid)) << "the writer did not end once its reader was gone";

    m_device.writeScript("/usr/bin/exact", "printf 12345");
    result = runAndReadOutput("/usr/bin/exact", {}, "/", 5);
    EXPECT_TRUE(result.complete) << "exactly the limit is whole";
    EXPECT_EQ(result.output, "12345");
    m_reaps.waitFor(result.pid);
}

TEST_F(RunAndReadOutputTest, ProgramsThatCannotStartReportNotStarted)
{
    auto missing = runAndReadOutput("/usr/bin/dpkg-query", { "-s", "x" }, "/");
    EXPECT_FALSE(missing.started);
    EXPECT_EQ(missing.startError, ENOENT);
    EXPECT_TRUE(missing.output.empty());

    m_device.writeFile("/usr/bin/dpkg-query", "#!/bin/sh\necho hi\n", 0644);
    auto notExecutable = runAndReadOutput("/usr/bin/dpkg-query", {}, "/");
    EXPECT_FALSE(notExecutable.started);
    EXPECT_TRUE(notExecutable.output.empty());

    m_device.writeScript("/usr/bin/dpkg-query", "echo hi");
    auto noDirectory = runAndReadOutput("/usr/bin/dpkg-query", {}, "/var/missing");
    EXPECT_FALSE(noDirectory.started);
    EXPECT_TRUE(noDirectory.output.empty());
}

TEST_F(RunAndReadOutputTest, RunsInTheResolvedWorkingDirectory)
{
    m_device.writeScript("/usr/bin/where", "pwd -P");
    std::filesystem::create_directories(m_device.hostPath("/var/mobile"));
    auto result = runAndReadOutput("/usr/bin/where", {}, "/var/../../var/mobile");
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.output, std::filesystem::canonical(m_device.hostPath("/var/mobile")).string() + "\n");
}

TEST_F(RunAndReadOutputTest, ArgumentsArriveAsSeparateWordsUnchanged)
{
    m_device.writeScript("/usr/bin/words", "for word in \"$@\"; do printf '<%s>\\n' \"$word\"; done");
    std::vector<std::string> arguments { "-s", "two words", "\"double\"", "'single'", "$HOME", "*", "", "back\\slash",
        "a;b|c" };
    auto result = runAndReadOutput("/usr/bin/words", arguments, "/");
    ASSERT_TRUE(result.started);
    std::string expected;
    for (auto& argument : arguments)
        expected += "<" + argument + ">\n";
    EXPECT_EQ(result.output, expected);
}

TEST_F(RunAndReadOutputTest, ParentDescriptorsDoNotReachTheChild)
{
    // Opened without close-on-exec, as careless code elsewhere in the process might.
    int leaked = ::fcntl(::open("/dev/null", O_RDONLY), F_DUPFD, 50);
    ASSERT_GE(leaked, 50);
    m_device.writeScript(
        "/usr/bin/fds", "[ -e /proc/$$/fd/" + std::to_string(leaked) + " ] && echo leaked || echo closed");
    auto result = runAndReadOutput("/usr/bin/fds", {}, "/");
    ::close(leaked);
    EXPECT_EQ(result.output, "closed\n");
}
