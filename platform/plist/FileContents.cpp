#include "platform/plist/FileContents.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform::Plist {

static std::string reasonForErrno(int error)
{
    switch (error) {
    case ENOENT:
        return "no such file";
    case EACCES:
    case EPERM:
        return "permission denied";
    case ELOOP:
        return "symlink loop";
    case ENOTDIR:
        return "a path component is not a directory";
    case ENAMETOOLONG:
        return "path too long";
    case EISDIR:
        return "not a regular file";
    default:
        return std::strerror(error);
    }
}

void FileContents::reserve(std::size_t capacity)
{
    if (capacity <= m_capacity)
        return;
    auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
    std::memcpy(bigger.get(), m_data, m_size);
    m_heap = std::move(bigger);
    m_data = m_heap.get();
    m_capacity = capacity;
}

ReadStatus FileContents::read(const std::string& hostPath, std::string& reason)
{
    m_size = 0;
    // Non-blocking, so that opening a FIFO with no writer returns at once.
    int fd = ::open(hostPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        int error = errno;
        reason = reasonForErrno(error);
        return error == ENOENT ? ReadStatus::Missing : ReadStatus::Unreadable;
    }
    struct stat status;
    if (::fstat(fd, &status)) {
        reason = reasonForErrno(errno);
        ::close(fd);
        return ReadStatus::Unreadable;
    }
    if (!S_ISREG(status.st_mode)) {
        reason = "not a regular file";
        ::close(fd);
        return ReadStatus::Unreadable;
    }
    auto expected = static_cast<std::size_t>(std::max<off_t>(status.st_size, 0));
    if (expected > maximumFileSize) {
        reason = "larger than 16 MiB";
        ::close(fd);
        return ReadStatus::Unreadable;
    }
    // One byte more than fstat promised, so that a file read whole needs a single read(): a
    // short read of exactly the promised size is taken as the end of the file.
    reserve(expected + 1);
    for (;;) {
        ssize_t count = ::read(fd, m_data + m_size, m_capacity - m_size);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            reason = reasonForErrno(errno);
            ::close(fd);
            return ReadStatus::Unreadable;
        }
        if (!count)
            break;
        m_size += static_cast<std::size_t>(count);
        if (m_size > maximumFileSize) {
            reason = "larger than 16 MiB";
            ::close(fd);
            return ReadStatus::Unreadable;
        }
        if (m_size == expected)
            break;
        if (m_size == m_capacity)
            reserve(std::min(m_capacity * 2, maximumFileSize + 1));
    }
    ::close(fd);
    return ReadStatus::Ok;
}

} // namespace Platform::Plist
