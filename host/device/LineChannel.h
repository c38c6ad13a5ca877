// A line-at-a-time conversation over a socket: how the scenario driver and the
// SpringBoard it supervises talk. Writes are whole lines and thread-safe.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace Device {

class LineChannel {
public:
    explicit LineChannel(int fd)
        : m_fd(fd)
    {
    }
    ~LineChannel();
    LineChannel(const LineChannel&) = delete;
    LineChannel& operator=(const LineChannel&) = delete;

    // False once the peer is gone. A line break inside the text becomes a blank.
    bool writeLine(std::string_view);
    // The next line without its line break; nullopt at the end of the stream.
    // A line longer than maximumLineLength is read to its end and given as overlongLine,
    // so that one line still gets one answer and the next line is read as it was sent.
    std::optional<std::string> readLine();
    static constexpr size_t maximumLineLength = 1 << 20;
    static constexpr std::string_view overlongLine = "(a line longer than 1 MiB)";
    // Ends both directions, waking a reader blocked on the other side too.
    void shutdown();

private:
    int m_fd;
    std::mutex m_writeLock;
    std::string m_buffer;
    bool m_skippingOverlong { false };
};

} // namespace Device
