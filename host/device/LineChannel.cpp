#include "host/device/LineChannel.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace Device {

namespace {

constexpr size_t maximumLineLength = 1 << 20;

} // namespace

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
            std::string line = m_buffer.substr(0, end);
            m_buffer.erase(0, end + 1);
            return line;
        }
        if (m_buffer.size() > maximumLineLength) {
            std::string line = m_buffer.substr(0, maximumLineLength);
            m_buffer.erase(0, maximumLineLength);
            return line;
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

std::string encodeWord(const std::optional<std::string>& text)
{
    if (!text)
        return "-";
    static constexpr char digits[] = "0123456789abcdef";
    std::string word = "x";
    for (unsigned char byte : *text) {
        word += digits[byte >> 4];
        word += digits[byte & 15];
    }
    return word;
}

std::optional<std::string> decodeWord(std::string_view word)
{
    if (word.empty() || word[0] != 'x')
        return std::nullopt;
    auto value = [](char digit) -> int {
        if (digit >= '0' && digit <= '9')
            return digit - '0';
        if (digit >= 'a' && digit <= 'f')
            return digit - 'a' + 10;
        return -1;
    };
    std::string text;
    for (size_t i = 1; i + 1 < word.size(); i += 2) {
        int high = value(word[i]);
        int low = value(word[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        text += char(high << 4 | low);
    }
    return text;
}

std::string displayWord(const std::optional<std::string>& text)
{
    if (!text)
        return "nil";
    bool plain = !text->empty() && *text != "nil";
    for (unsigned char character : *text) {
        if (character <= ' ' || character == '"' || character == '\\' || character == '#' || character == 0x7f)
            plain = false;
    }
    if (plain)
        return *text;
    std::string quoted = "\"";
    for (char character : *text) {
        if (character == '"' || character == '\\')
            quoted += '\\';
        quoted += character;
    }
    return quoted + "\"";
}

} // namespace Device
