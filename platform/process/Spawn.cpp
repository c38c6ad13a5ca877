#include "platform/process/Spawn.h"

#include "platform/fs/DeviceRoot.h"
#include "platform/process/ChildReaper.h"
#include "platform/trace/Timeline.h"

#include <fcntl.h>
#include <spawn.h>
#include <system_error>
#include <unistd.h>

namespace Platform {

namespace {

std::vector<char*> nullTerminated(const std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (auto& string : strings)
        pointers.push_back(const_cast<char*>(string.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

int spawn(
    pid_t* pid, std::string_view devicePath, const std::vector<std::string>& argv, const std::vector<std::string>& env)
{
    std::string hostPath = resolve(devicePath);
    auto argumentPointers = nullTerminated(argv);
    auto environmentPointers = nullTerminated(env);

    // Announced before the child exists: a child that ends this very process
    // (a killall of it) must not be able to beat its own announcement.
    std::string event = "spawn " + std::string(devicePath);
    for (size_t i = 1; i < argv.size(); ++i)
        event += ' ' + argv[i];
    timeline(event);

    // A phone's SpringBoard writes to no terminal, and neither do the tools it starts: here its
    // standard error is the terminal of the kestrel running the device, so theirs go nowhere
    // (a killall that finds nothing in a restart storm says so to nobody, as on a phone).
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = -1;
    int error = ::posix_spawn(
        &child, hostPath.c_str(), &actions, nullptr, argumentPointers.data(), environmentPointers.data());
    ::posix_spawn_file_actions_destroy(&actions);
    if (error) {
        timeline("spawn-failed " + std::string(devicePath) + " error=" + std::generic_category().message(error));
        return error;
    }

    ChildReaper::shared().watch(child);
    if (pid)
        *pid = child;
    return 0;
}

} // namespace Platform
