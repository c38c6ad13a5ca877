#include "host/device/Words.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace Device {

std::optional<std::vector<std::string>> splitWords(std::string_view line, std::string& error)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool inQuote = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char character = line[i];
        if (inQuote) {
            word += character;
            if (character == '\\' && i + 1 < line.size()) {
                word += line[++i];
                continue;
            }
            if (character == '"')
                inQuote = false;
            continue;
        }
        if (character == '#')
            break;
        if (character == ' ' || character == '\t' || character == '\r') {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
            continue;
        }
        if (character == '"')
            inQuote = true;
        word += character;
        inWord = true;
    }
    if (inQuote) {
        error = "unterminated quote";
        return std::nullopt;
    }
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

bool isQuoted(std::string_view word) { return word.size() >= 2 && word.front() == '"' && word.back() == '"'; }

std::string unquote(std::string_view word)
{
    if (!isQuoted(word))
        return std::string(word);
    std::string text;
    for (size_t i = 1; i + 1 < word.size(); ++i) {
        if (word[i] == '\\' && i + 2 < word.size())
            ++i;
        text += word[i];
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
    return plain ? *text : quotedWord(*text);
}

std::string quotedWord(std::string_view text)
{
    std::string quoted = "\"";
    for (char character : text) {
        if (character == '"' || character == '\\')
            quoted += '\\';
        quoted += character;
    }
    return quoted + "\"";
}

std::string printable(std::string_view text)
{
    std::string shown;
    for (unsigned char character : text) {
        if (character < 0x20 || character == 0x7f) {
            char escaped[5];
            std::snprintf(escaped, sizeof(escaped), "\\x%02x", character);
            shown += escaped;
        } else
            shown += char(character);
    }
    return shown;
}

bool fitsOnALine(std::string_view text)
{
    return text.find_first_of(std::string_view("\n\r\0", 3)) == std::string_view::npos;
}

std::optional<double> parseReal(std::string_view word)
{
    if (word.empty())
        return std::nullopt;
    for (char character : word) {
        if (!(std::isdigit(static_cast<unsigned char>(character)) || character == '.' || character == '-'
                || character == '+' || character == 'e' || character == 'E'))
            return std::nullopt;
    }
    double value = 0;
    auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string realText(double value)
{
    char text[64];
    auto result = std::to_chars(text, text + sizeof(text), value);
    std::string written(text, result.ptr);
    if (written.find_first_of(".eEn") == std::string::npos)
        written += ".0";
    return written;
}

} // namespace Device
