// Words as people type them and as the timeline shows them: splitting a line into
// words, double-quoted text with \" and \\, numbers read and written exactly. The
// scenario language, the command line and the timeline all go through here.
#pragma once

#include "platform/Expected.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Device {

// Splits a line at blanks (space, tab, carriage return). Double-quoted text is one
// word and keeps its quotes, so a value can tell "3" from 3; inside it a backslash
// takes the next character as it is. `#` outside quotes ends the line. Fails
// ("unterminated quote") when a quote is left open.
Platform::Expected<std::vector<std::string>> splitWords(std::string_view line);

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
// A number as every input reads one (the scenario language, `kestrel settings set`, the
// server's pane interface): an optional sign (+ or -), digits with at most one point and a
// digit on at least one side of it (2, +2, .5, 5.), and an optional exponent (e or E, an
// optional sign, digits). Nothing else: no blanks, inf, nan or hexadecimal. Without a point
// or an exponent it is an integer, which must fit in 64 bits; otherwise it is the nearest
// double, subnormals included (a value too small for any double is 0), and must be finite.
struct Number {
    bool isInteger { false };
    int64_t integer { 0 };
    double real { 0 };
    double value() const { return isInteger ? double(integer) : real; }
};
// Nullopt when the word is no number at all; the failure says why when it looks like one that
// does not fit.
Platform::Expected<std::optional<Number>> parseNumber(std::string_view);
// A number by that rule, as a double.
std::optional<double> parseReal(std::string_view);
// The two words of something that holds or does not, the holding one first.
struct BoolWords {
    const char* yes;
    const char* no;
    constexpr const char* operator()(bool value) const { return value ? yes : no; }
    constexpr std::optional<bool> read(std::string_view word) const
    {
        if (word == yes)
            return true;
        if (word == no)
            return false;
        return std::nullopt;
    }
};
// A boolean as the scenario language, the timeline and the driver protocol write it.
inline constexpr BoolWords yesNo { "yes", "no" };
// The words a switch takes: yes/no, on/off, true/false or 1/0, in any letter case.
std::optional<bool> parseSwitchWord(std::string_view);
inline constexpr const char* switchWords = "yes/no, on/off, true/false or 1/0";
// The shortest text that reads back as the same number, always with a point ("3.0", "0.1").
std::string realText(double);
// The same for a single-precision number: the shortest text that reads back as that float
// ("7.25", "0.1", "2.0"). How a slider's value is written wherever it is shown.
std::string floatText(float);

} // namespace Device
