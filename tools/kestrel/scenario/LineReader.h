// Reads lines from a file descriptor without ever holding more than one line of at most
// a given length: a longer line is reported once, as soon as it passes the limit, and the
// next read skips the rest of it. Scenario files and `kestrel boot`'s standard input come through here.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace Kestrel {

class LineReader {
public:
    LineReader(int descriptor, size_t maximumLength);

    enum class Status { Line, TooLong, End, Error };
    // The next line, without its line break, in `line`; TooLong for a line over the limit
    // (the next call skips the rest of it), End at the end of the input, Error when a read fails.
    Status next(std::string& line);

private:
    bool fill();

    int m_descriptor;
    size_t m_maximumLength;
    std::string m_buffer;
    size_t m_start { 0 };
    bool m_ended { false };
    bool m_failed { false };
    bool m_skipping { false };
};

} // namespace Kestrel
