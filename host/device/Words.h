// Words as people type them and as the timeline shows them: splitting a line into
// words, double-quoted text with \" and \\, numbers read and written exactly. The
// scenario language, the command line and the timeline all go through here.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Device {

// Splits a line at blanks (space, tab, carriage return). Double-quoted text is one
// word and keeps its quotes, so a value can tell "3" from 3; inside it a backslash
// takes the next character as it is. `#` outside quotes ends the line. Nullopt (and
// "unterminated quote") when a quote is left open.
std::optional<std::vector<std::string>> splitWords(std::string_view line, std::string& error);

bool isQuoted(std::string_view word);
// The text of a word: a quoted word without its quotes and escapes; any other word as it is.
std::string unquote(std::string_view word);
// A text as one word: bare when it is a plain word, otherwise in double quotes with
// \ and " escaped; nil for none. unquote(displayWord(text)) == text for any text.
std::string displayWord(const std::optional<std::string>&);
// A text always in double quotes, \ and " escaped: text that must not read as a number,
// yes/no or nil. unquote(quotedWord(text)) == text for any text.
std::string quotedWord(std::string_view);
// A text for an error line: control bytes (and DEL) as \xNN, so nothing typed can move the
// terminal's cursor or hide text; everything else as it is.
std::string printable(std::string_view);
// Whether a text can stand in a line of words: lines end at a line break, and a NUL
// byte is refused.
bool fitsOnALine(std::string_view);

// A whole integer in decimal that fits the type, nothing around it.
template <typename Integer = int64_t> std::optional<Integer> parseInteger(std::string_view word)
{
    Integer value {};
    auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size() || word.empty())
        return std::nullopt;
    return value;
}
// A finite number in plain decimal notation (digits, sign, point, exponent): no inf,
// nan or hexadecimal.
std::optional<double> parseReal(std::string_view);
// The shortest text that reads back as the same number, always with a point ("3.0", "0.1").
std::string realText(double);

} // namespace Device
