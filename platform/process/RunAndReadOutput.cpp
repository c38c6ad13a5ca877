#include "platform/process/RunAndReadOutput.h"

#include "platform/fs/DeviceRoot.h"
#include "platform/fs/ReadToEnd.h"
#include "platform/process/ChildReaper.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace Platform {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1)
        : m_fd(fd)
    {
    }
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_fd; }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

class SpawnFileActions {
public:
    SpawnFileActions() { m_valid = !::posix_spawn_file_actions_init(&m_actions); }
    ~SpawnFileActions()
    {
        if (m_valid)
            ::posix_spawn_file_actions_destroy(&m_actions);
    }
    SpawnFileActions(const SpawnFileActions&) = delete;
    SpawnFileActions& operator=(const SpawnFileActions&) = delete;

    bool isValid() const { return m_valid; }
    posix_spawn_file_actions_t* get() { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions;
    bool m_valid { false };
};

// Moves fd above the standard descriptors, so that dup2 onto 1 in the child is a real copy
// (which clears close-on-exec) and never a no-op on an inherited descriptor.
int aboveStandardDescriptors(int fd)
{
    if (fd > STDERR_FILENO)
        return fd;
    int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(fd);
    return moved;
}

RunResult notStarted(int error)
{
    RunResult result;
    result.startError = error;
    return result;
}

RunResult run(std::string_view devicePath, const std::vector<std::string>& arguments,
    std::string_view deviceWorkingDirectory, size_t outputLimit)
{
    std::string hostPath = resolve(devicePath);
    std::string hostWorkingDirectory = resolve(deviceWorkingDirectory);

    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) < 0)
        return notStarted(errno);
    FileDescriptor readEnd(aboveStandardDescriptors(pipeEnds[0]));
    FileDescriptor writeEnd(aboveStandardDescriptors(pipeEnds[1]));
    if (readEnd.get() < 0 || writeEnd.get() < 0)
        return notStarted(errno);

    SpawnFileActions actions;
    if (!actions.isValid())
        return notStarted(ENOMEM);
    int error = ::posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDOUT_FILENO);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Descriptors someone opened without close-on-exec must not reach the child either.
    if (!error)
        error = ::posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1);
#endif
    if (!error)
        error = ::posix_spawn_file_actions_addchdir_np(actions.get(), hostWorkingDirectory.c_str());
    if (error)
        return notStarted(error);

    std::vector<std::string> argv;
    argv.reserve(arguments.size() + 1);
    argv.emplace_back(devicePath);
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> argumentPointers;
    argumentPointers.reserve(argv.size() + 1);
    for (auto& argument : argv)
        argumentPointers.push_back(argument.data());
    argumentPointers.push_back(nullptr);

    RunResult result;
    error = ::posix_spawn(&result.pid, hostPath.c_str(), actions.get(), nullptr, argumentPointers.data(), environ);
    if (error)
        return notStarted(error);
    // From here on the child is the reaper's, whatever happens to the reading.
    ChildReaper::shared().watch(result.pid);
    writeEnd.reset();
    result.started = true;
    try {
        result.complete = readToEnd(readEnd.get(), result.output, outputLimit);
    } catch (const std::bad_alloc&) {
        result.complete = false;
        std::string().swap(result.output);
    }
    return result;
}

} // namespace

RunResult runAndReadOutput(std::string_view devicePath, const std::vector<std::string>& arguments,
    std::string_view deviceWorkingDirectory, size_t outputLimit)
{
    try {
        return run(devicePath, arguments, deviceWorkingDirectory, outputLimit);
    } catch (const std::bad_alloc&) {
        // Only before the child starts: the reading catches its own.
        return notStarted(ENOMEM);
    }
}

} // namespace Platform
