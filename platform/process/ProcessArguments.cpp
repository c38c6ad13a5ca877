#include "platform/process/ProcessArguments.h"

#include "platform/fs/ReadToEnd.h"
#include "platform/process/ProcessArgumentsTesting.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace Platform {

namespace {

struct ProcessArgumentsState {
    std::mutex lock;
    std::optional<std::vector<std::string>> real;
    std::optional<std::vector<std::string>> overridden;
};

ProcessArgumentsState& processArgumentsState()
{
    static auto* state = new ProcessArgumentsState;
    return *state;
}

std::vector<std::string> readCommandLine()
{
    std::string contents;
    int fd = ::open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    readToEnd(fd, contents);
    ::close(fd);

    // Each argument ends with a NUL.
    std::vector<std::string> arguments;
    size_t start = 0;
    while (start < contents.size()) {
        size_t end = contents.find('\0', start);
        if (end == std::string::npos)
            end = contents.size();
        arguments.emplace_back(contents, start, end - start);
        start = end + 1;
    }
    return arguments;
}

} // namespace

std::vector<std::string> processArguments()
{
    auto& state = processArgumentsState();
    std::lock_guard guard(state.lock);
    if (state.overridden)
        return *state.overridden;
    if (!state.real)
        state.real = readCommandLine();
    return *state.real;
}

void setProcessArgumentsForTesting(std::optional<std::vector<std::string>> arguments)
{
    auto& state = processArgumentsState();
    std::lock_guard guard(state.lock);
    state.overridden = std::move(arguments);
}

} // namespace Platform
