#include "host/device/ToolRun.h"

#include "platform/Lines.h"
#include "platform/fs/ReadToEnd.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace Device {

namespace {

constexpr const char* plainEnvironment[] = {
    "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
    "LC_ALL=C",
    nullptr,
};

// A file with no name: nothing to clean up, whoever ends first.
int unnamedFile()
{
    const char* directory = ::getenv("TMPDIR");
    if (!directory || !*directory)
        directory = "/tmp";
    int fd = ::open(directory, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != ENOENT))
        return fd;
    std::string pattern = std::string(directory) + "/kestrel-tool.XXXXXX";
    fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd >= 0)
        ::unlink(pattern.c_str());
    return fd;
}

std::string readFrom(int fd)
{
    std::string contents;
    if (::lseek(fd, 0, SEEK_SET) == 0)
        Platform::readToEnd(fd, contents);
    return contents;
}

bool isIndented(std::string_view line) { return line.starts_with(' ') || line.starts_with('\t'); }

std::string trimmed(std::string_view line)
{
    size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    size_t last = line.find_last_not_of(" \t\r");
    return std::string(line.substr(first, last - first + 1));
}

} // namespace

ToolRun ToolRun::start(const std::vector<std::string>& argv, const ToolOptions& options)
{
    ToolRun run;
    run.m_result.program = argv[0].substr(argv[0].rfind('/') + 1);
    run.m_output = unnamedFile();
    if (run.m_output < 0) {
        run.m_result.output = "cannot make a file for the output of " + argv[0] + ": " + std::strerror(errno);
        return run;
    }

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (options.discardStandardOutput)
        ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    else
        ::posix_spawn_file_actions_adddup2(&actions, run.m_output, STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions, run.m_output, STDERR_FILENO);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    ::posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
    ::posix_spawnattr_setpgroup(&attributes, 0);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);

    std::vector<char*> arguments;
    for (auto& argument : argv)
        arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);

    int error = ::posix_spawn(
        &run.m_pid, argv[0].c_str(), &actions, &attributes, arguments.data(), const_cast<char**>(plainEnvironment));
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (error) {
        run.m_pid = -1;
        run.m_result.output = "cannot run " + argv[0] + ": " + std::strerror(error);
    }
    return run;
}

ToolRun::ToolRun(ToolRun&& other)
    : m_pid(std::exchange(other.m_pid, -1))
    , m_output(std::exchange(other.m_output, -1))
    , m_result(std::move(other.m_result))
{
}

ToolRun::~ToolRun() { finish(); }

ToolResult ToolRun::finish()
{
    if (m_pid > 0) {
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) { }
        m_pid = -1;
        m_result.started = true;
        if (WIFEXITED(status))
            m_result.exitCode = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            m_result.signal = WTERMSIG(status);
        m_result.output = readFrom(m_output);
    }
    if (m_output >= 0)
        ::close(std::exchange(m_output, -1));
    return std::exchange(m_result, {});
}

ToolResult runTool(const std::vector<std::string>& argv, const ToolOptions& options)
{
    return ToolRun::start(argv, options).finish();
}

std::string busyDatabaseReason(const std::string& pid)
{
    return "an earlier install or removal is still running" + (pid.empty() ? std::string() : " (pid " + pid + ")")
        + "; try again when it ends";
}

std::string failureReason(const ToolResult& result)
{
    if (result.signal)
        return result.program + " was killed by signal " + std::to_string(result.signal) + " before it finished";
    // dpkg: "dpkg frontend lock was locked by another process with pid N" (or the database
    // lock), or without the pid.
    for (std::string_view marker :
        { " lock was locked by another process with pid ", " was locked by another process" }) {
        size_t at = result.output.find(marker);
        if (at == std::string::npos)
            continue;
        size_t digits = at + marker.size();
        size_t end = result.output.find_first_not_of("0123456789", digits);
        return busyDatabaseReason(
            result.output.substr(digits, (end == std::string::npos ? result.output.size() : end) - digits));
    }
    auto lines = Platform::lines(result.output);
    // A subprocess's complaint is the cause; the "error:" line after it, the consequence.
    for (std::string_view marker : { " (subprocess): ", ": error: " }) {
        for (auto line : lines) {
            if (line.find(marker) != std::string_view::npos)
                return trimmed(line);
        }
    }
    // "dpkg: error processing archive x.deb (--install):" and its indented reason; or
    // "dpkg: dependency problems prevent configuration of x:" with its explanation.
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        if (isIndented(lines[i]) || !lines[i].ends_with(':') || !isIndented(lines[i + 1]))
            continue;
        std::string reason = lines[i].starts_with("dpkg: error processing ") ? "" : trimmed(lines[i]);
        for (size_t j = i + 1; j < lines.size() && isIndented(lines[j]); ++j)
            reason += (reason.empty() ? "" : reason.ends_with(':') ? " " : "; ") + trimmed(lines[j]);
        return reason;
    }
    for (size_t i = lines.size(); i-- > 0;) {
        if (auto line = trimmed(lines[i]); !line.empty())
            return line;
    }
    return result.program + " failed with exit status " + std::to_string(result.exitCode);
}

} // namespace Device
