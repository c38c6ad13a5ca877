#include "tools/kestrel/scenario/LineReader.h"

#include <cerrno>
#include <unistd.h>

namespace Kestrel {

LineReader::LineReader(int descriptor, size_t maximumLength)
    : m_descriptor(descriptor)
    , m_maximumLength(maximumLength)
{
}

bool LineReader::fill()
{
    if (m_ended)
        return false;
    if (m_start) {
        m_buffer.erase(0, m_start);
        m_start = 0;
    }
    char chunk[64 * 1024];
    while (true) {
        ssize_t count = ::read(m_descriptor, chunk, sizeof(chunk));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            m_ended = true;
            m_failed = count < 0;
            return false;
        }
        m_buffer.append(chunk, size_t(count));
        return true;
    }
}

LineReader::Status LineReader::next(std::string& line)
{
    // The rest of a line reported as too long, holding nothing of it.
    while (m_skipping) {
        size_t breakAt = m_buffer.find('\n', m_start);
        if (breakAt != std::string::npos) {
            m_start = breakAt + 1;
            m_skipping = false;
            break;
        }
        m_buffer.clear();
        m_start = 0;
        if (!fill())
            return m_failed ? Status::Error : Status::End;
    }
    while (true) {
        size_t end = m_buffer.find('\n', m_start);
        if (end != std::string::npos && end - m_start <= m_maximumLength) {
            line.assign(m_buffer, m_start, end - m_start);
            m_start = end + 1;
            return Status::Line;
        }
        if (m_buffer.size() - m_start > m_maximumLength) {
            m_skipping = true;
            return Status::TooLong;
        }
        if (!fill()) {
            if (m_failed)
                return Status::Error;
            if (m_start >= m_buffer.size())
                return Status::End;
            line.assign(m_buffer, m_start, std::string::npos);
            m_start = m_buffer.size();
            return Status::Line;
        }
    }
}

} // namespace Kestrel
