#include "PeerProcess.h"

#include "platform/fs/DeviceRoot.h"
#include "platform/fs/ExecutablePath.h"
#include "platform/notify/CFNotificationCenter.h"
#include "platform/notify/Notify.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

extern char** environ;

using namespace std::chrono_literals;

namespace {

std::mutex s_countLock;
std::map<std::string, long, std::less<>> s_counts;
bool s_quiet = false;
int s_observerToken = 0;

void writeLine(const std::string& line)
{
    std::string text = line + "\n";
    // One write per line: lines from the delivery thread and the command loop never mix.
    (void)!::write(STDOUT_FILENO, text.data(), text.size());
}

void peerCallback(
    CFNotificationCenterRef, void* observer, std::string_view name, const void* object, const void* userInfo)
{
    {
        std::lock_guard guard(s_countLock);
        ++s_counts[std::string(name)];
    }
    if (s_quiet)
        return;
    writeLine("got " + std::string(name) + (observer == &s_observerToken ? "" : " observer=wrong")
        + " object=" + (object ? "set" : "null") + " info=" + (userInfo ? "set" : "null"));
}

} // namespace

int runNotifyPeer(int argc, char** argv)
{
    // argv: program --notify-peer ROOT [--quiet] NAME...
    Platform::setDeviceRoot(argv[2]);
    int first = 3;
    if (argc > first && std::string_view(argv[first]) == "--quiet") {
        s_quiet = true;
        ++first;
    }
    int object = 0;
    for (int i = first; i < argc; ++i) {
        CFNotificationCenterAddObserver(CFNotificationCenterGetDarwinNotifyCenter(), &s_observerToken, peerCallback,
            argv[i], &object, CFNotificationSuspensionBehaviorDeliverImmediately);
    }
    writeLine("ready");

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string verb, name;
        long repeat = 1;
        words >> verb >> name >> repeat;
        if (verb == "post") {
            for (long i = 0; i < repeat; ++i)
                Platform::postNotification(name);
            writeLine("posted");
        } else if (verb == "post-cf") {
            CFNotificationCenterPostNotification(
                CFNotificationCenterGetDarwinNotifyCenter(), name, &object, &object, true);
            writeLine("posted");
        } else if (verb == "drain") {
            Platform::drainNotifyDeliveries();
            writeLine("drained");
        } else if (verb == "count") {
            std::lock_guard guard(s_countLock);
            auto found = s_counts.find(name);
            writeLine("count " + name + " " + std::to_string(found == s_counts.end() ? 0 : found->second));
        }
    }
    return 0;
}

PeerProcess::PeerProcess(const std::string& deviceRoot, const std::vector<std::string>& observedNames, bool quiet)
{
    int input[2];
    int output[2];
    if (::pipe2(input, O_CLOEXEC) < 0 || ::pipe2(output, O_CLOEXEC) < 0)
        throw std::runtime_error("cannot make the peer's pipes");
    std::vector<std::string> arguments { "notifyTests", std::string(notifyPeerFlag), deviceRoot };
    if (quiet)
        arguments.push_back("--quiet");
    arguments.insert(arguments.end(), observedNames.begin(), observedNames.end());
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    std::string program = Platform::executablePath();
    int error = ::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    m_input = input[1];
    m_output = output[0];
    if (error)
        throw std::runtime_error("cannot start the peer");
    if (!waitForLine("ready"))
        throw std::runtime_error("the peer did not start");
}

PeerProcess::~PeerProcess()
{
    ::close(m_input);
    if (!waitForExit(std::chrono::seconds(5))) {
        ::kill(m_pid, SIGKILL);
        waitForExit();
    }
    ::close(m_output);
}

void PeerProcess::command(std::string_view line)
{
    std::string text = std::string(line) + "\n";
    (void)!::write(m_input, text.data(), text.size());
}

std::optional<std::string> PeerProcess::readLine(std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (auto newline = m_buffer.find('\n'); newline != std::string::npos) {
            std::string line = m_buffer.substr(0, newline);
            m_buffer.erase(0, newline + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd descriptor { m_output, POLLIN, 0 };
        if (left.count() <= 0 || ::poll(&descriptor, 1, static_cast<int>(left.count())) <= 0)
            return std::nullopt;
        char chunk[4096];
        ssize_t length = ::read(m_output, chunk, sizeof(chunk));
        if (length <= 0)
            return std::nullopt;
        m_buffer.append(chunk, static_cast<size_t>(length));
    }
}

bool PeerProcess::waitForLine(std::string_view wanted, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (auto line = readLine(
               std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()))) {
        if (*line == wanted)
            return true;
        if (line->starts_with("got "))
            m_deliveries.push_back(line->substr(4));
    }
    return false;
}

long PeerProcess::count(std::string_view name)
{
    command("count " + std::string(name));
    while (auto line = readLine(std::chrono::seconds(10))) {
        std::string prefix = "count " + std::string(name) + " ";
        if (line->starts_with(prefix))
            return std::stol(line->substr(prefix.size()));
        if (line->starts_with("got "))
            m_deliveries.push_back(line->substr(4));
    }
    return -1;
}

std::vector<std::string> PeerProcess::drainedDeliveries()
{
    command("drain");
    waitForLine("drained");
    return std::exchange(m_deliveries, {});
}

void PeerProcess::signal(int number)
{
    if (!m_reaped)
        ::kill(m_pid, number);
}

bool PeerProcess::waitUntilStopped()
{
    auto tasks = "/proc/" + std::to_string(m_pid) + "/task";
    for (int attempt = 0; attempt < 500; ++attempt) {
        bool allStopped = true;
        for (auto& task : std::filesystem::directory_iterator(tasks)) {
            std::ifstream stat(task.path() / "stat");
            std::string line;
            std::getline(stat, line);
            auto state = line.rfind(')');
            allStopped = allStopped && state != std::string::npos && line.compare(state + 1, 2, " T") == 0;
        }
        if (allStopped)
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

std::optional<int> PeerProcess::waitForExit(std::chrono::milliseconds timeout)
{
    if (m_reaped)
        return 0;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_reaped = true;
            return status;
        }
        if (std::chrono::steady_clock::now() > deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}
