// The one line splitter: a text's lines, each without its line break. A break at the very end
// ends the last line rather than starting an empty one; an empty text has no lines. And a line's
// fields between separators, every one kept (an empty text is one empty field).
#pragma once

#include <string_view>
#include <vector>

namespace Platform {

inline std::vector<std::string_view> lines(std::string_view text)
{
    std::vector<std::string_view> found;
    while (!text.empty()) {
        size_t end = text.find('\n');
        found.push_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return found;
}

inline std::vector<std::string_view> fields(std::string_view text, char separator)
{
    std::vector<std::string_view> pieces;
    while (true) {
        size_t end = text.find(separator);
        pieces.push_back(text.substr(0, end));
        if (end == std::string_view::npos)
            return pieces;
        text.remove_prefix(end + 1);
    }
}

} // namespace Platform
