#include "tools/kestrel/StandardErrorRelay.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace Kestrel {

namespace {

void writeAll(int fd, const char* data, ssize_t size)
{
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        data += written;
        size -= written;
    }
}

} // namespace

StandardErrorRelay::StandardErrorRelay()
{
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    if (::pipe2(m_wake, O_CLOEXEC) != 0) {
        ::close(pipe[0]);
        ::close(pipe[1]);
        return;
    }
    std::fflush(stderr);
    m_original = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    // dup2 leaves the new standard error inheritable, and blocking for the writers.
    int writeFlags = ::fcntl(pipe[1], F_GETFL);
    if (m_original < 0 || ::fcntl(pipe[1], F_SETFL, writeFlags & ~O_NONBLOCK) != 0
        || ::dup2(pipe[1], STDERR_FILENO) < 0) {
        for (int fd : { pipe[0], pipe[1], m_wake[0], m_wake[1], m_original })
            if (fd >= 0)
                ::close(fd);
        m_original = -1;
        return;
    }
    ::close(pipe[1]);
    m_pipe = pipe[0];
    m_thread = std::thread([this] { relay(); });
}

StandardErrorRelay::~StandardErrorRelay()
{
    if (m_original < 0)
        return;
    std::fflush(stderr);
    char wake = 'x';
    writeAll(m_wake[1], &wake, 1);
    m_thread.join();
    ::dup2(m_original, STDERR_FILENO);
    while (copyAvailable()) { }
    for (int fd : { m_pipe, m_wake[0], m_wake[1], m_original })
        ::close(fd);
}

// Copies one read's worth; false when nothing is waiting or every writer is gone.
bool StandardErrorRelay::copyAvailable()
{
    char buffer[4096];
    ssize_t count = ::read(m_pipe, buffer, sizeof(buffer));
    if (count < 0 && errno == EINTR)
        return true;
    if (count <= 0)
        return false;
    writeAll(m_original, buffer, count);
    return true;
}

void StandardErrorRelay::relay()
{
    pollfd watched[2] = { { m_pipe, POLLIN, 0 }, { m_wake[0], POLLIN, 0 } };
    while (true) {
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (watched[1].revents)
            return;
        if (watched[0].revents && !copyAvailable() && (watched[0].revents & POLLHUP))
            return;
    }
}

} // namespace Kestrel
