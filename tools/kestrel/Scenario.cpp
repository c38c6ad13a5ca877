#include "tools/kestrel/Scenario.h"

#include "platform/foundation/CoreFoundation.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <map>

namespace Kestrel {

namespace {

using Words = std::vector<std::string>;
using Check = std::function<std::optional<std::string>(const Words&, ScenarioPhase&)>;

std::optional<std::string> expectCount(const Words& words, size_t minimum, size_t maximum, std::string_view usage)
{
    if (words.size() < minimum || words.size() > maximum)
        return "usage: " + std::string(usage);
    return std::nullopt;
}

bool oneOf(std::string_view word, std::initializer_list<std::string_view> choices)
{
    for (auto choice : choices) {
        if (word == choice)
            return true;
    }
    return false;
}

std::optional<std::string> choice(const Words& words, size_t index, std::initializer_list<std::string_view> choices, std::string_view usage)
{
    if (index >= words.size() || !oneOf(words[index], choices))
        return "usage: " + std::string(usage);
    return std::nullopt;
}

// KEY=VALUE with a value of the scenario's kinds.
std::optional<std::string> checkAssignment(std::string_view word, bool allowAbsentValue = false)
{
    size_t equals = word.find('=');
    if (equals == std::string_view::npos || equals == 0)
        return "expected KEY=VALUE, got " + std::string(word);
    std::string error;
    if (allowAbsentValue && word.substr(equals + 1).empty())
        return std::nullopt;
    if (!parseValue(word.substr(equals + 1), error))
        return error;
    return std::nullopt;
}

// field=value words of an attempt, each field once, in any order.
std::optional<std::string> checkAttemptFields(const Words& words, size_t first, bool allowResult)
{
    std::map<std::string, std::string> fields;
    for (size_t i = first; i < words.size(); ++i) {
        size_t equals = words[i].find('=');
        if (equals == std::string::npos)
            return "expected field=value, got " + words[i];
        std::string name = words[i].substr(0, equals);
        std::string value = words[i].substr(equals + 1);
        if (!oneOf(name, { "passcode", "mesa", "finish" }) && !(allowResult && name == "result"))
            return "unknown field " + name;
        if (fields.count(name))
            return "field " + name + " given twice";
        if (name != "passcode" && !oneOf(value, { "yes", "no" }))
            return name + " must be yes or no";
        if (name == "passcode" && value.empty())
            return "passcode needs a value (nil or text)";
        if (name == "passcode" && value.front() == '"' && (value.size() < 2 || value.back() != '"'))
            return "unterminated quote in passcode";
        fields[name] = value;
    }
    for (auto required : { "passcode", "mesa", "finish" }) {
        if (!fields.count(required))
            return std::string("missing ") + required + "=";
    }
    return std::nullopt;
}

std::optional<std::string> beforeBoot(const Words& words, ScenarioPhase& phase)
{
    if (phase.booted)
        return words[0] + " sets up the device and must come before boot";
    return std::nullopt;
}

std::optional<std::string> needsBoot(const Words& words, ScenarioPhase& phase)
{
    if (!phase.booted)
        return words[0] + " needs a booted device (add boot first)";
    return std::nullopt;
}

const std::map<std::string, Check, std::less<>>& checks()
{
    static const std::map<std::string, Check, std::less<>> table = {
        { "ios", [](const Words& words, ScenarioPhase& phase) -> std::optional<std::string> {
             if (auto error = beforeBoot(words, phase))
                 return error;
             Platform::SystemVersion version;
             if (words.size() != 2 || !Platform::parseSystemVersion(words[1], version))
                 return "usage: ios VERSION (for example 12.4 or 13.0)";
             if (version.major < 10)
                 return "iOS " + words[1] + " is older than any release the system runs on (10.0)";
             return std::nullopt;
         } },
        { "cf", [](const Words& words, ScenarioPhase& phase) -> std::optional<std::string> {
             if (auto error = beforeBoot(words, phase))
                 return error;
             if (words.size() != 2 || !parseReal(words[1]) || !std::isfinite(*parseReal(words[1])))
                 return "usage: cf NUMBER";
             return std::nullopt;
         } },
        { "notifications-route", [](const Words& words, ScenarioPhase& phase) -> std::optional<std::string> {
             if (auto error = beforeBoot(words, phase))
                 return error;
             if (words.size() != 2)
                 return "usage: notifications-route priority|structured|none";
             return choice(words, 1, { "priority", "structured", "none" }, "notifications-route priority|structured|none");
         } },
        { "companion", [](const Words& words, ScenarioPhase& phase) -> std::optional<std::string> {
             if (auto error = beforeBoot(words, phase))
                 return error;
             if (words.size() != 2)
                 return "usage: companion installed|absent";
             return choice(words, 1, { "installed", "absent" }, "companion installed|absent");
         } },
        { "process", [](const Words& words, ScenarioPhase& phase) -> std::optional<std::string> {
             if (auto error = beforeBoot(words, phase))
                 return error;
             if (words.size() != 2 || unquote(words[1]).empty() || unquote(words[1]).find('/') != std::string::npos
                 || unquote(words[1]).find('\0') != std::string::npos)
                 return "usage: process NAME (a file name, without slashes)";
             return std::nullopt;
         } },
        { "settings", [](const Words& words, ScenarioPhase&) -> std::optional<std::string> {
             if (words.size() < 2)
                 return "usage: settings KEY=VALUE ... | settings remove KEY ... | settings delete | settings corrupt";
             if (words[1] == "remove") {
                 if (words.size() < 3)
                     return "usage: settings remove KEY ...";
                 return std::nullopt;
             }
             if (words[1] == "delete" || words[1] == "corrupt")
                 return expectCount(words, 2, 2, "settings " + words[1]);
             for (size_t i = 1; i < words.size(); ++i) {
                 if (auto error = checkAssignment(words[i]))
                     return error;
             }
             return std::nullopt;
         } },
        { "boot", [](const Words& words, ScenarioPhase& phase) -> std::optional<std::string> {
             if (phase.booted)
                 return "the device is already booted";
             if (words.size() == 2 && words[1] != "launching")
                 return "usage: boot [launching]";
             if (auto error = expectCount(words, 1, 2, "boot [launching]"))
                 return error;
             phase.booted = true;
             return std::nullopt;
         } },
        { "finish-launching", [](const Words& words, ScenarioPhase& phase) -> std::optional<std::string> {
             if (auto error = needsBoot(words, phase))
                 return error;
             return expectCount(words, 1, 1, "finish-launching");
         } },
        { "host", [](const Words& words, ScenarioPhase& phase) -> std::optional<std::string> {
             if (auto error = needsBoot(words, phase))
                 return error;
             if (words.size() != 3 || !oneOf(words[1], { "attempt-result", "ui-locked" }) || !oneOf(words[2], { "yes", "no" }))
                 return "usage: host attempt-result yes|no | host ui-locked yes|no";
             return std::nullopt;
         } },
        { "lock", [](const Words& words, ScenarioPhase& phase) -> std::optional<std::string> {
             if (auto error = needsBoot(words, phase))
                 return error;
             return expectCount(words, 1, 1, "lock");
         } },
        { "face", [](const Words& words, ScenarioPhase& phase) -> std::optional<std::string> {
             if (auto error = needsBoot(words, phase))
                 return error;
             constexpr std::string_view usage = "face match | face fail | face event N | face next match|fail";
             if (words.size() == 2 && oneOf(words[1], { "match", "fail" }))
                 return std::nullopt;
             if (words.size() == 3 && words[1] == "event" && parseInteger(words[2]))
                 return std::nullopt;
             if (words.size() == 3 && words[1] == "next" && oneOf(words[2], { "match", "fail" }))
                 return std::nullopt;
             return "usage: " + std::string(usage);
         } },
        { "attempt", [](const Words& words, ScenarioPhase& phase) -> std::optional<std::string> {
             if (auto error = needsBoot(words, phase))
                 return error;
             return checkAttemptFields(words, 1, false);
         } },
        { "touch", [](const Words& words, ScenarioPhase& phase) -> std::optional<std::string> {
             if (auto error = needsBoot(words, phase))
                 return error;
             return expectCount(words, 1, 1, "touch");
         } },
        { "aod", [](const Words& words, ScenarioPhase& phase) -> std::optional<std::string> {
             if (auto error = needsBoot(words, phase))
                 return error;
             if (words.size() != 2)
                 return "usage: aod tap|double-tap|hide|post-hide";
             return choice(words, 1, { "tap", "double-tap", "hide", "post-hide" }, "aod tap|double-tap|hide|post-hide");
         } },
        { "quick-actions", [](const Words& words, ScenarioPhase& phase) -> std::optional<std::string> {
             if (auto error = needsBoot(words, phase))
                 return error;
             if (words.size() != 2 || words[1] != "appear")
                 return "usage: quick-actions appear";
             return std::nullopt;
         } },
        { "flashlight", [](const Words& words, ScenarioPhase& phase) -> std::optional<std::string> {
             if (auto error = needsBoot(words, phase))
                 return error;
             if (words.size() != 2 || !parseInteger(words[1]))
                 return "usage: flashlight LEVEL (a 64-bit integer)";
             return std::nullopt;
         } },
        { "audio", [](const Words& words, ScenarioPhase& phase) -> std::optional<std::string> {
             if (auto error = needsBoot(words, phase))
                 return error;
             if (words.size() != 2)
                 return "usage: audio playing|stopped";
             return choice(words, 1, { "playing", "stopped" }, "audio playing|stopped");
         } },
        { "notification", [](const Words& words, ScenarioPhase& phase) -> std::optional<std::string> {
             if (auto error = needsBoot(words, phase))
                 return error;
             if (words.size() == 3 && words[1] == "add") {
                 std::string error;
                 auto value = parseValue(words[2], error);
                 if (value && value->kind != ScenarioValue::Kind::Nil && value->kind != ScenarioValue::Kind::String
                     && value->kind != ScenarioValue::Kind::Integer && value->kind != ScenarioValue::Kind::Real)
                     return "a section identifier is text or nil";
                 return std::nullopt;
             }
             if (words.size() == 2 && oneOf(words[1], { "clear", "new-controller" }))
                 return std::nullopt;
             return "usage: notification add SECTION_ID | notification clear | notification new-controller";
         } },
        { "respring", [](const Words& words, ScenarioPhase&) { return expectCount(words, 1, 1, "respring"); } },
        { "post", [](const Words& words, ScenarioPhase&) -> std::optional<std::string> {
             if (words.size() != 2 || unquote(words[1]).empty())
                 return "usage: post NAME";
             return std::nullopt;
         } },
        { "pane", [](const Words& words, ScenarioPhase&) -> std::optional<std::string> {
             if (words.size() == 4 && words[1] == "set") {
                 std::string error;
                 if (!parseValue(words[3], error))
                     return error;
                 return std::nullopt;
             }
             if (words.size() == 3 && words[1] == "tap")
                 return std::nullopt;
             return "usage: pane set KEY VALUE | pane tap ACTION";
         } },
        { "wait", [](const Words& words, ScenarioPhase&) -> std::optional<std::string> {
             if (words.size() != 2 || !parseReal(words[1]) || !(*parseReal(words[1]) >= 0) || *parseReal(words[1]) > 1e9)
                 return "usage: wait SECONDS (a number from 0 up)";
             return std::nullopt;
         } },
        { "state", [](const Words& words, ScenarioPhase&) { return expectCount(words, 1, 1, "state"); } },
        { "expect", [](const Words& words, ScenarioPhase& phase) -> std::optional<std::string> {
             if (words.size() < 2)
                 return "usage: expect WHAT ...";
             const auto& what = words[1];
             if (what == "lockscreen" || what == "device" || what == "attempt" || what == "no-attempt" || what == "biometric"
                 || what == "no-biometric") {
                 if (auto error = needsBoot(words, phase))
                     return error;
             }
             if (what == "lockscreen")
                 return words.size() == 3 ? choice(words, 2, { "shown", "dismissed" }, "expect lockscreen shown|dismissed")
                                          : std::optional<std::string>("usage: expect lockscreen shown|dismissed");
             if (what == "device")
                 return words.size() == 3 ? choice(words, 2, { "locked", "unlocked" }, "expect device locked|unlocked")
                                          : std::optional<std::string>("usage: expect device locked|unlocked");
             if (what == "attempt")
                 return checkAttemptFields(words, 2, true);
             if (what == "no-attempt" || what == "no-biometric" || what == "respring" || what == "no-respring")
                 return expectCount(words, 2, 2, "expect " + what);
             if (what == "biometric") {
                 if (words.size() != 3 || !oneOf(words[2], { "set-authenticated=no", "screen-off", "screen-on" }))
                     return "usage: expect biometric set-authenticated=no|screen-off|screen-on";
                 return std::nullopt;
             }
             if (what == "log" || what == "no-log" || what == "posted") {
                 if (words.size() != 3 || unquote(words[2]).empty())
                     return "usage: expect " + what + (what == "posted" ? " NAME" : " TEXT");
                 return std::nullopt;
             }
             if (what == "setting") {
                 if (words.size() == 4 && words[3] == "absent" && words[2].find('=') == std::string::npos)
                     return std::nullopt;
                 if (words.size() != 3)
                     return "usage: expect setting KEY=VALUE | expect setting KEY absent";
                 return checkAssignment(words[2]);
             }
             return "unknown check " + what;
         } },
    };
    return table;
}

} // namespace

std::string realText(double value)
{
    // The shortest text that reads back as the same number, always with a point.
    char text[64];
    auto result = std::to_chars(text, text + sizeof(text), value);
    std::string written(text, result.ptr);
    if (written.find_first_of(".eEn") == std::string::npos)
        written += ".0";
    return written;
}

std::string ScenarioValue::describe() const
{
    switch (kind) {
    case Kind::Boolean:
        return boolean ? "yes" : "no";
    case Kind::Integer:
        return std::to_string(integer);
    case Kind::Real:
        return realText(real);
    case Kind::String:
        return "\"" + string + "\"";
    case Kind::Nil:
        return "nil";
    }
    return "nil";
}

std::optional<int64_t> parseInteger(std::string_view word)
{
    int64_t value = 0;
    auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size() || word.empty())
        return std::nullopt;
    return value;
}

std::optional<double> parseReal(std::string_view word)
{
    if (word.empty())
        return std::nullopt;
    // Only plain decimal notation: no inf, nan or hex floats.
    for (char character : word) {
        if (!(std::isdigit(static_cast<unsigned char>(character)) || character == '.' || character == '-' || character == '+'
                || character == 'e' || character == 'E'))
            return std::nullopt;
    }
    double value = 0;
    auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string unquote(std::string_view word)
{
    if (word.size() < 2 || word.front() != '"' || word.back() != '"')
        return std::string(word);
    std::string text;
    for (size_t i = 1; i + 1 < word.size(); ++i) {
        if (word[i] == '\\' && i + 2 < word.size())
            ++i;
        text += word[i];
    }
    return text;
}

std::optional<ScenarioValue> parseValue(std::string_view word, std::string& error)
{
    ScenarioValue value;
    if (word == "yes" || word == "no") {
        value.kind = ScenarioValue::Kind::Boolean;
        value.boolean = word == "yes";
        return value;
    }
    if (word == "nil")
        return value;
    if (!word.empty() && word.front() == '"') {
        if (word.size() < 2 || word.back() != '"') {
            error = "unterminated quote in " + std::string(word);
            return std::nullopt;
        }
        value.kind = ScenarioValue::Kind::String;
        value.string = unquote(word);
        return value;
    }
    if (auto integer = parseInteger(word)) {
        value.kind = ScenarioValue::Kind::Integer;
        value.integer = *integer;
        return value;
    }
    // Whole numbers are integers: one that does not fit in 64 bits is an error, not a real.
    std::string_view digits = word.starts_with('-') ? word.substr(1) : word;
    if (!digits.empty() && digits.find_first_not_of("0123456789") == std::string_view::npos) {
        error = "the integer " + std::string(word) + " does not fit in 64 bits";
        return std::nullopt;
    }
    bool looksNumeric = !word.empty() && (std::isdigit(static_cast<unsigned char>(word[0])) || word[0] == '-' || word[0] == '.');
    if (auto real = parseReal(word); real && looksNumeric) {
        value.kind = ScenarioValue::Kind::Real;
        value.real = *real;
        return value;
    }
    error = "bad value " + std::string(word) + " (use yes, no, a number, nil or \"text\")";
    return std::nullopt;
}

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

std::optional<std::string> validateLine(const std::vector<std::string>& words, ScenarioPhase& phase)
{
    if (words.empty())
        return std::nullopt;
    auto found = checks().find(words[0]);
    if (found == checks().end())
        return "unknown command " + words[0];
    return found->second(words, phase);
}

std::optional<Scenario> parseScenario(std::string_view text, std::string& error)
{
    Scenario scenario;
    ScenarioPhase phase;
    int number = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        ++number;
        start = end + 1;
        if (line.find('\0') != std::string_view::npos) {
            error = std::to_string(number) + ": a NUL byte in the line";
            return std::nullopt;
        }
        std::string problem;
        auto words = splitWords(line, problem);
        if (!words) {
            error = std::to_string(number) + ": " + problem;
            return std::nullopt;
        }
        if (words->empty())
            continue;
        if (auto invalid = validateLine(*words, phase)) {
            error = std::to_string(number) + ": " + *invalid;
            return std::nullopt;
        }
        scenario.lines.push_back({ number, std::move(*words) });
        if (end == text.size())
            break;
    }
    return scenario;
}

} // namespace Kestrel
