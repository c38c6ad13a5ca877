// Stands in for a device's killall in the engine tests: appends the exact argument vector it
// was started with (argv[0] included) and its environment to files at the root of the device
// it is installed in (ROOT/usr/bin/killall), one line each per start. Each argument is written
// in brackets, so that blanks and empty arguments show.
#include <fcntl.h>
#include <string>
#include <unistd.h>

extern char** environ;

namespace {

void appendLine(const std::string& path, const std::string& line)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    // One write on an O_APPEND descriptor: lines of two children started at once never mix.
    [[maybe_unused]] ssize_t written = ::write(fd, line.data(), line.size());
    ::close(fd);
}

std::string bracketed(char** strings)
{
    std::string line;
    for (char** string = strings; string && *string; ++string)
        line += (line.empty() ? "[" : " [") + std::string(*string) + "]";
    return line + "\n";
}

} // namespace

int main(int, char** argv)
{
    char executable[4096];
    ssize_t length = ::readlink("/proc/self/exe", executable, sizeof(executable) - 1);
    if (length <= 0)
        return 1;
    std::string path(executable, static_cast<size_t>(length));
    constexpr std::string_view installedAt = "/usr/bin/killall";
    if (!path.ends_with(installedAt))
        return 1;
    std::string root = path.substr(0, path.size() - installedAt.size());
    appendLine(root + "/killall-arguments", bracketed(argv));
    appendLine(root + "/killall-environment", bracketed(environ));
    return 0;
}
