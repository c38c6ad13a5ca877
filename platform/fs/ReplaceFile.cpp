#include "platform/fs/ReplaceFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

Expected<void> replaceFile(const std::string& hostPath, std::string_view contents, const ReplaceOptions& options)
{
    auto failed = [&](int error) { return Failure { "cannot write " + hostPath + ": " + std::strerror(error) }; };
    std::filesystem::path target(hostPath);
    std::string directory = target.has_parent_path() ? target.parent_path().string() : std::string(".");
    std::string name = target.filename().string();
    if (name.empty() || name == "." || name == "..")
        return failed(EISDIR);
    if (options.makeFolders) {
        std::error_code error;
        std::filesystem::create_directories(directory, error);
        if (error)
            return Failure { "cannot create " + directory + ": " + error.message() };
    }

    std::string temporary = options.temporary.empty() ? directory + "/." + name + ".XXXXXX" : options.temporary;
    int fd = options.temporary.empty() ? ::mkostemp(temporary.data(), O_CLOEXEC)
                                       : ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return failed(errno);
    auto abandon = [&](int error) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(temporary.c_str());
        return failed(error);
    };
    for (size_t written = 0; written < contents.size();) {
        ssize_t count = ::write(fd, contents.data() + written, contents.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return abandon(count < 0 ? errno : EIO);
        written += size_t(count);
    }
    mode_t mode = 0644;
    struct stat existing;
    if (options.mode)
        mode = *options.mode;
    else if (::stat(hostPath.c_str(), &existing) == 0)
        mode = existing.st_mode & 07777;
    if (::fchmod(fd, mode) != 0 || (options.durable && ::fsync(fd) != 0))
        return abandon(errno);
    int closed = ::close(fd);
    fd = -1;
    if (closed != 0)
        return abandon(errno);
    if (::rename(temporary.c_str(), hostPath.c_str()) != 0)
        return abandon(errno);
    if (!options.durable)
        return {};
    // The rename is durable only once the folder is; a file system that cannot sync a folder
    // (EINVAL) has nothing more to offer.
    int folder = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return failed(errno);
    bool synced = ::fsync(folder) == 0 || errno == EINVAL;
    int error = errno;
    ::close(folder);
    if (!synced)
        return failed(error);
    return {};
}

} // namespace Platform
