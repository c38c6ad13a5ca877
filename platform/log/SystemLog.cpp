#include "platform/log/SystemLog.h"

#include "platform/Lines.h"
#include "platform/fs/DeviceRoot.h"
#include "platform/fs/ExecutablePath.h"
#include "platform/trace/Timeline.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

namespace {

// Only the tail of a log this large is read back.
constexpr off_t maximumReadSize = 64 << 20;

// The month names are fixed rather than taken from the locale: the format is the log's own.
std::string timestamp()
{
    static constexpr const char* monthNames[]
        = { "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };
    time_t now = ::time(nullptr);
    struct tm local { };
    if (!::localtime_r(&now, &local))
        return "Jan  1 00:00:00";
    char buffer[32];
    int length = std::snprintf(buffer, sizeof(buffer), "%s %2d %02d:%02d:%02d", monthNames[local.tm_mon % 12],
        local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    if (length < 0)
        return "Jan  1 00:00:00";
    return buffer;
}

bool writeAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

bool appendToDeviceLog(const std::string& path, std::string_view line)
{
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    // O_NONBLOCK: a FIFO planted as the log must not hang us.
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
    if (fd < 0)
        return false;
    bool written = writeAll(fd, line);
    ::close(fd);
    return written;
}

} // namespace

std::string systemLogProcessName()
{
    std::string path = executablePath();
    if (path.empty())
        return "unknown";
    return path.substr(path.rfind('/') + 1);
}

void systemLog(std::string_view message)
{
    std::string text(message);
    for (char& character : text) {
        if (character == '\n' || character == '\r')
            character = ' ';
    }

    static const std::string processName = systemLogProcessName();
    std::string line = timestamp() + " device " + processName + "[" + std::to_string(::getpid()) + "]: " + text + "\n";

    bool written = false;
    if (deviceRoot())
        written = appendToDeviceLog(resolve(systemLogDevicePath), line);
    if (!written)
        writeAll(STDERR_FILENO, line);

    timeline("log " + text);
}

std::vector<std::string> readSystemLog()
{
    std::vector<std::string> lines;
    int fd = ::open(resolve(systemLogDevicePath).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return lines;
    struct stat status;
    if (::fstat(fd, &status) < 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return lines;
    }
    off_t start = status.st_size > maximumReadSize ? status.st_size - maximumReadSize : 0;
    std::string contents;
    contents.resize(static_cast<size_t>(status.st_size - start));
    size_t filled = 0;
    while (filled < contents.size()) {
        ssize_t count
            = ::pread(fd, contents.data() + filled, contents.size() - filled, start + static_cast<off_t>(filled));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        filled += static_cast<size_t>(count);
    }
    ::close(fd);
    contents.resize(filled);

    // A read that starts mid-file starts mid-line: drop the partial first line.
    auto whole = Platform::lines(contents);
    for (size_t i = start > 0 ? 1 : 0; i < whole.size(); ++i)
        lines.emplace_back(whole[i]);
    return lines;
}

} // namespace Platform
