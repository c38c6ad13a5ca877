// The scenario language: one command per line, words separated by blanks,
// double-quoted text kept whole, `#` to the end of the line ignored. A
// scenario is checked completely before anything of it runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Kestrel {

struct ScenarioValue {
    enum class Kind { Boolean, Integer, Real, String, Nil };
    Kind kind { Kind::Nil };
    bool boolean { false };
    int64_t integer { 0 };
    double real { 0 };
    std::string string;

    std::string describe() const;
};

// A real as a check reports it: the shortest exact text, always with a point ("3.0", "0.1").
std::string realText(double);

// yes/no, an integer, a real, nil, or double-quoted text. Nullopt (and a
// reason) for anything else.
std::optional<ScenarioValue> parseValue(std::string_view word, std::string& error);
std::optional<int64_t> parseInteger(std::string_view word);
std::optional<double> parseReal(std::string_view word);
// The text of a word, its quotes and escapes removed.
std::string unquote(std::string_view word);

struct ScenarioLine {
    int number { 0 };
    // Raw words: quoted spans keep their quotes, so values can tell "3" from 3.
    std::vector<std::string> words;
};

// Splits a line into raw words; an unterminated quote is an error.
std::optional<std::vector<std::string>> splitWords(std::string_view line, std::string& error);

// Where in a scenario a line stands, for the checks that depend on it.
struct ScenarioPhase {
    bool booted { false };
};

// Checks one line; nullopt when it is a well-formed command, else what is wrong.
std::optional<std::string> validateLine(const std::vector<std::string>& words, ScenarioPhase&);

struct Scenario {
    std::vector<ScenarioLine> lines;
};

// Parses and checks a whole scenario text. On the first bad line, returns
// nullopt and sets error to "LINE: WHAT".
std::optional<Scenario> parseScenario(std::string_view text, std::string& error);

} // namespace Kestrel
