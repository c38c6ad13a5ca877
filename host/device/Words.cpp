#include "host/device/Words.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace Device {

Platform::Expected<std::vector<std::string>> splitWords(std::string_view line)
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
    if (inQuote)
        return Platform::Failure { "unterminated quote" };
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

Platform::Expected<std::optional<Number>> parseNumber(std::string_view word)
{
    constexpr std::optional<Number> none;
    size_t at = 0;
    bool negative = false;
    if (at < word.size() && (word[at] == '+' || word[at] == '-'))
        negative = word[at++] == '-';
    auto digitsFrom = [&](size_t from) {
        size_t end = from;
        while (end < word.size() && std::isdigit(static_cast<unsigned char>(word[end])))
            ++end;
        return end;
    };
    size_t integerStart = at, integerEnd = digitsFrom(at);
    size_t fractionStart = integerEnd, fractionEnd = integerEnd;
    bool point = integerEnd < word.size() && word[integerEnd] == '.';
    if (point)
        fractionEnd = digitsFrom(fractionStart = integerEnd + 1);
    if (integerEnd == integerStart && fractionEnd == fractionStart)
        return none;
    size_t end = fractionEnd;
    bool exponent = end < word.size() && (word[end] == 'e' || word[end] == 'E');
    long exponentValue = 0;
    if (exponent) {
        size_t exponentStart = end + 1;
        bool exponentNegative = false;
        if (exponentStart < word.size() && (word[exponentStart] == '+' || word[exponentStart] == '-'))
            exponentNegative = word[exponentStart++] == '-';
        end = digitsFrom(exponentStart);
        if (end == exponentStart)
            return none;
        for (size_t i = exponentStart; i < end; ++i)
            exponentValue = std::min(exponentValue * 10 + (word[i] - '0'), 1000000L);
        if (exponentNegative)
            exponentValue = -exponentValue;
    }
    if (end != word.size())
        return none;

    // from_chars takes no plus sign.
    std::string_view digits = word.substr(word.front() == '+' || word.front() == '-' ? 1 : 0);
    Number number;
    if (!point && !exponent) {
        uint64_t magnitude = 0;
        auto [stop, failure] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
        if (failure != std::errc() || magnitude > uint64_t(INT64_MAX) + (negative ? 1 : 0))
            return Platform::Failure { "the integer " + std::string(word) + " does not fit in 64 bits" };
        number.isInteger = true;
        number.integer = negative ? int64_t(0 - magnitude) : int64_t(magnitude);
        return std::optional<Number>(number);
    }
    double value = 0;
    auto [stop, failure] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (failure == std::errc::result_out_of_range) {
        // Too small for any double, or too large: the decimal magnitude tells which.
        size_t firstDigit = word.find_first_of("123456789", integerStart);
        long magnitude = firstDigit == std::string_view::npos || firstDigit >= fractionEnd ? -1
            : firstDigit < integerEnd ? long(integerEnd - firstDigit)
                                      : -long(firstDigit - fractionStart);
        if (firstDigit == std::string_view::npos || magnitude + exponentValue <= 0)
            value = 0;
        else
            return Platform::Failure { "the number " + std::string(word) + " is too large" };
    } else if (failure != std::errc() || !std::isfinite(value)) {
        return Platform::Failure { "the number " + std::string(word) + " is too large" };
    }
    number.real = negative ? -value : value;
    return std::optional<Number>(number);
}

std::optional<double> parseReal(std::string_view word)
{
    auto number = parseNumber(word);
    if (!number || !*number)
        return std::nullopt;
    return (*number)->value();
}

std::optional<bool> parseSwitchWord(std::string_view word)
{
    std::string lower;
    for (char character : word)
        lower += char(std::tolower(static_cast<unsigned char>(character)));
    for (auto on : { "yes", "on", "true", "1" }) {
        if (lower == on)
            return true;
    }
    for (auto off : { "no", "off", "false", "0" }) {
        if (lower == off)
            return false;
    }
    return std::nullopt;
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

std::string floatText(float value)
{
    char text[64];
    auto result = std::to_chars(text, text + sizeof(text), value);
    std::string written(text, result.ptr);
    if (written.find_first_of(".eEn") == std::string::npos)
        written += ".0";
    return written;
}

} // namespace Device
