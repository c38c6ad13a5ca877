#include "TemporaryDevice.h"
#include "TimelineRecorder.h"
#include "platform/log/SystemLog.h"

#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace Platform;

namespace {

// "Mon DD HH:MM:SS device PROCESS[PID]: " in front of every message.
std::regex linePattern(const std::string& message)
{
    return std::regex("^(?:Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123][0-9] "
                      "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] device systemTests\\["
        + std::to_string(::getpid()) + "\\]: " + message + "$");
}

} // namespace

TEST(SystemLog, LineLandsInTheDeviceLogWithTheProcessName)
{
    TemporaryDevice device;
    TimelineRecorder timeline;
    systemLog("Kestrel: unlocked");
    systemLog("two\nlines");

    auto lines = readSystemLog();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines[0], linePattern("Kestrel: unlocked"))) << lines[0];
    // One call, one line.
    EXPECT_TRUE(std::regex_match(lines[1], linePattern("two lines"))) << lines[1];
    EXPECT_EQ(timeline.events(), (std::vector<std::string> { "log Kestrel: unlocked", "log two lines" }));
    EXPECT_TRUE(std::filesystem::is_regular_file(device.hostPath("/var/log/syslog")));
}

TEST(SystemLog, ConcurrentWritersNeverInterleave)
{
    // Each thread opens the log for itself, exactly as separate processes do.
    TemporaryDevice device;
    constexpr int threadCount = 8;
    constexpr int linesPerThread = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([t] {
            std::string padding(3000, static_cast<char>('a' + t));
            for (int i = 0; i < linesPerThread; ++i)
                systemLog(std::to_string(t) + ":" + std::to_string(i) + ":" + padding);
        });
    }
    for (auto& thread : threads)
        thread.join();

    auto lines = readSystemLog();
    ASSERT_EQ(lines.size(), static_cast<size_t>(threadCount * linesPerThread));
    std::map<int, int> nextLineOfThread;
    std::regex pattern = linePattern("([0-9]):([0-9]+):([a-h]{3000})");
    for (auto& line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, pattern)) << line.substr(0, 120);
        int t = std::stoi(match[1]);
        EXPECT_EQ(match[3].str(), std::string(3000, static_cast<char>('a' + t)));
        // Each writer's lines appear in the order it wrote them.
        EXPECT_EQ(std::stoi(match[2]), nextLineOfThread[t]++);
    }
}

TEST(SystemLog, WithoutADeviceTheLineGoesToStandardError)
{
    clearDeviceRoot();
    TimelineRecorder timeline;
    testing::internal::CaptureStderr();
    systemLog("no device yet");
    std::string written = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(std::regex_match(written, linePattern("no device yet\n"))) << written;
    EXPECT_EQ(timeline.events(), std::vector<std::string> { "log no device yet" });
}

TEST(SystemLog, FifoPlantedAsTheLogNeitherHangsWriterNorReader)
{
    TemporaryDevice device;
    std::filesystem::create_directories(device.hostPath("/var/log"));
    ASSERT_EQ(::mkfifo(device.hostPath("/var/log/syslog").c_str(), 0644), 0);
    testing::internal::CaptureStderr();
    systemLog("into a fifo");
    std::string written = testing::internal::GetCapturedStderr();
    EXPECT_NE(written.find("into a fifo"), std::string::npos);
    EXPECT_TRUE(readSystemLog().empty());
}
