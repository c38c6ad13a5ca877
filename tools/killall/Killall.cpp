// The device's /usr/bin/killall: "killall [-SIGNAL] NAME..." signals every process named NAME
// that belongs to the device this copy is installed in, and nothing else, ever. A process
// belongs to the device when its executable lies under the device root; its name is the last
// component of that executable's path. Runs with an empty environment.

#include "platform/fs/DeviceRoot.h"
#include "platform/fs/ExecutablePath.h"
#include "platform/log/SystemLog.h"
#include "platform/process/DeviceProcesses.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace {

// As the build's package scheme places it: /usr/bin/killall, or /var/jb/usr/bin/killall.
constexpr std::string_view installedPath = KESTREL_JAILBREAK_ROOT "/usr/bin/killall";

constexpr int usageExitCode = 2;
constexpr int noMatchExitCode = 1;

struct SignalName {
    const char* name;
    int number;
};

constexpr SignalName signalNames[] = {
    { "HUP", SIGHUP },
    { "INT", SIGINT },
    { "QUIT", SIGQUIT },
    { "ILL", SIGILL },
    { "TRAP", SIGTRAP },
    { "ABRT", SIGABRT },
    { "IOT", SIGIOT },
    { "BUS", SIGBUS },
    { "FPE", SIGFPE },
    { "KILL", SIGKILL },
    { "USR1", SIGUSR1 },
    { "SEGV", SIGSEGV },
    { "USR2", SIGUSR2 },
    { "PIPE", SIGPIPE },
    { "ALRM", SIGALRM },
    { "TERM", SIGTERM },
    { "CHLD", SIGCHLD },
    { "CONT", SIGCONT },
    { "STOP", SIGSTOP },
    { "TSTP", SIGTSTP },
    { "TTIN", SIGTTIN },
    { "TTOU", SIGTTOU },
    { "URG", SIGURG },
    { "XCPU", SIGXCPU },
    { "XFSZ", SIGXFSZ },
    { "VTALRM", SIGVTALRM },
    { "PROF", SIGPROF },
    { "WINCH", SIGWINCH },
    { "IO", SIGIO },
    { "SYS", SIGSYS },
};

int usage(const char* problem)
{
    std::fprintf(stderr, "killall: %s\nusage: killall [-SIGNAL] NAME...\n", problem);
    return usageExitCode;
}

// "-9", "-KILL", "-SIGKILL", "-kill": the signal, or nullopt when the option names none.
std::optional<int> parseSignal(std::string_view option)
{
    if (option.empty())
        return std::nullopt;
    if (std::all_of(option.begin(), option.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        if (option.size() > 3)
            return std::nullopt;
        int number = std::stoi(std::string(option));
        if (number < 1 || number > SIGRTMAX)
            return std::nullopt;
        return number;
    }
    std::string upper;
    for (char character : option)
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(character)));
    std::string_view name = upper;
    if (name.starts_with("SIG"))
        name.remove_prefix(3);
    for (auto& entry : signalNames) {
        if (name == entry.name)
            return entry.number;
    }
    return std::nullopt;
}

// Signals pid only if it is still the process whose executable was found: through a pidfd,
// which pins the process, so a pid reused in between is never hit.
bool signalProcess(pid_t pid, const std::string& expectedExecutable, int signal)
{
    int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) {
        if (errno != ENOSYS)
            return false;
        return ::kill(pid, signal) == 0;
    }
    bool sent = false;
    if (Platform::executablePathOfProcess(std::to_string(pid)) == expectedExecutable)
        sent = ::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0) == 0;
    ::close(pidfd);
    return sent;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string_view> arguments(argv + std::min(argc, 1), argv + argc);
    int signal = SIGTERM;
    size_t next = 0;
    if (next < arguments.size() && arguments[next].size() > 1 && arguments[next].front() == '-'
        && arguments[next] != "--") {
        auto parsed = parseSignal(arguments[next].substr(1));
        if (!parsed)
            return usage(("unknown signal " + std::string(arguments[next].substr(1))).c_str());
        signal = *parsed;
        ++next;
    }
    if (next < arguments.size() && arguments[next] == "--")
        ++next;
    std::vector<std::string_view> names(arguments.begin() + static_cast<std::ptrdiff_t>(next), arguments.end());
    if (names.empty())
        return usage("no process name given");
    if (std::any_of(names.begin(), names.end(), [](std::string_view name) { return name.empty(); }))
        return usage("an empty process name");

    auto root = Platform::deviceRootOfExecutable(Platform::executablePath(), installedPath);
    if (!root) {
        std::fprintf(
            stderr, "killall: not installed in a device (expected at DEVICE%s)\n", std::string(installedPath).c_str());
        return usageExitCode;
    }
    try {
        Platform::setDeviceRoot(*root);
    } catch (const std::logic_error& error) {
        std::fprintf(stderr, "killall: %s\n", error.what());
        return usageExitCode;
    }
    int signalled = 0;
    for (auto& process : Platform::processesOfDevice(*root)) {
        std::string_view name = process.executable;
        name.remove_prefix(name.rfind('/') + 1);
        if (std::find(names.begin(), names.end(), name) == names.end())
            continue;
        if (!signalProcess(process.pid, process.executable, signal))
            continue;
        ++signalled;
        Platform::systemLog("killall: sent signal " + std::to_string(signal) + " to " + std::string(name) + "["
            + std::to_string(process.pid) + "]");
    }

    if (!signalled) {
        std::fprintf(stderr, "No matching processes belonging to you were found\n");
        return noMatchExitCode;
    }
    return 0;
}
