// Parses the scenario language into typed commands. Checking a line and parsing it
// are one step: a line is either a command, ready to run, or one error line.
#pragma once

#include "platform/Expected.h"
#include "tools/kestrel/scenario/Command.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Kestrel {

// Where in a scenario a line stands: set-up comes before boot, device commands after it.
struct ScenarioPhase {
    bool booted { false };
};

// A line's command (nullopt for a blank or comment-only line), or what is wrong with it.
using ParsedLine = Platform::Expected<std::optional<Command>>;

// The longest line of a scenario: far more than any command needs, and small enough that what
// it carries to SpringBoard and back always fits a line of the driver protocol.
inline constexpr size_t maximumLineLength = 64 * 1024;

// One line of a scenario (or of standard input, or of a request to the server).
// A boot moves the phase on.
ParsedLine parseCommand(std::string_view line, ScenarioPhase&);

// A value as the scenario writes it: yes/no, an integer, a real, nil, or double-quoted
// text, or why not; nil parses as an empty ScenarioValue.
Platform::Expected<ScenarioValue> parseValue(std::string_view word);
// How a check reports a value: yes, 3, 0.5, "text", nil (and "a dictionary" for a stored
// value no scenario writes).
std::string describeValue(const ScenarioValue&);

// A command as a scenario line: the parser's inverse, so parse(describe(c)) == c. What
// writes commands (a recorded session, the server's pane requests) writes them with it.
std::string describe(const Command&);

struct Scenario {
    std::vector<ScenarioLine> lines;
};

// Parses a whole scenario text, every line before anything of it runs. On the first
// bad line, "LINE: WHAT".
Platform::Expected<Scenario> parseScenario(std::string_view text);
// The same, read from a file line by line under the line limit, never whole.
Platform::Expected<Scenario> readScenario(int descriptor);

} // namespace Kestrel
