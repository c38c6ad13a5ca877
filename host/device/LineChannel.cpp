#include "host/device/LineChannel.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace Device {

LineChannel::~LineChannel()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool LineChannel::writeLine(std::string_view text)
{
    std::string line(text);
    for (char& character : line) {
        if (character == '\n' || character == '\r')
            character = ' ';
    }
    line += '\n';
    std::lock_guard guard(m_writeLock);
    size_t written = 0;
    while (written < line.size()) {
        ssize_t count = ::send(m_fd, line.data() + written, line.size() - written, MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        written += size_t(count);
    }
    return true;
}

std::optional<std::string> LineChannel::readLine()
{
    while (true) {
        size_t end = m_buffer.find('\n');
        if (end != std::string::npos) {
            std::string line = m_skippingOverlong ? std::string(overlongLine) : m_buffer.substr(0, end);
            m_buffer.erase(0, end + 1);
            m_skippingOverlong = false;
            return line;
        }
        if (m_buffer.size() > maximumLineLength) {
            m_skippingOverlong = true;
            m_buffer.clear();
        }
        char chunk[4096];
        ssize_t count = ::read(m_fd, chunk, sizeof(chunk));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return std::nullopt;
        m_buffer.append(chunk, size_t(count));
    }
}

void LineChannel::shutdown() { ::shutdown(m_fd, SHUT_RDWR); }

} // namespace Device
