#include "tools/kestrel/scenario/CommandParser.h"

#include "host/device/Words.h"
#include "platform/notify/NotifyMessage.h"
#include "tools/kestrel/scenario/LineReader.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>

namespace Kestrel {

namespace {

using Platform::Plist::Value;
using Words = std::vector<std::string>;

// A parser of one command: the command, or nullopt and the error.
using Parser = std::function<std::optional<Command>(const Words&, ScenarioPhase&, std::string& error)>;

std::optional<Command> failure(std::string& error, std::string text)
{
    error = std::move(text);
    return std::nullopt;
}

std::optional<Command> usage(std::string& error, std::string_view text)
{
    return failure(error, "usage: " + std::string(text));
}

bool oneOf(std::string_view word, std::initializer_list<std::string_view> choices)
{
    for (auto choice : choices) {
        if (word == choice)
            return true;
    }
    return false;
}

bool yesNo(std::string_view word) { return word == "yes"; }

bool beforeBoot(const Words& words, const ScenarioPhase& phase, std::string& error)
{
    if (phase.booted)
        error = words[0] + " sets up the device and must come before boot";
    return !phase.booted;
}

bool needsBoot(const Words& words, const ScenarioPhase& phase, std::string& error)
{
    if (!phase.booted)
        error = words[0] + " needs a booted device (add boot first)";
    return phase.booted;
}

// A command of exactly one word (after checking the phase, where the command has one).
template <typename T> Parser bare(std::string_view name, bool booted)
{
    return [name, booted](const Words& words, ScenarioPhase& phase, std::string& error) -> std::optional<Command> {
        if (booted && !needsBoot(words, phase, error))
            return std::nullopt;
        if (words.size() != 1)
            return usage(error, name);
        return T {};
    };
}

// KEY=VALUE with a value of the scenario's kinds.
std::optional<std::pair<std::string, ScenarioValue>> assignment(std::string_view word, std::string& error)
{
    size_t equals = word.find('=');
    if (equals == std::string_view::npos || equals == 0) {
        error = "expected KEY=VALUE, got " + std::string(word);
        return std::nullopt;
    }
    auto value = parseValue(word.substr(equals + 1), error);
    if (!value)
        return std::nullopt;
    return std::make_pair(Device::unquote(word.substr(0, equals)), std::move(*value));
}

// The field=value words of an attempt, each field once, in any order.
struct AttemptFields {
    std::optional<std::string> passcode;
    bool mesa { false };
    bool finish { false };
    std::optional<bool> result;
};

std::optional<AttemptFields> attemptFields(const Words& words, size_t first, bool allowResult, std::string& error)
{
    std::map<std::string, std::string> fields;
    for (size_t i = first; i < words.size(); ++i) {
        size_t equals = words[i].find('=');
        if (equals == std::string::npos) {
            error = "expected field=value, got " + words[i];
            return std::nullopt;
        }
        std::string name = words[i].substr(0, equals);
        std::string value = words[i].substr(equals + 1);
        if (!oneOf(name, { "passcode", "mesa", "finish" }) && !(allowResult && name == "result"))
            error = "unknown field " + name;
        else if (fields.count(name))
            error = "field " + name + " given twice";
        else if (name != "passcode" && !oneOf(value, { "yes", "no" }))
            error = name + " must be yes or no";
        else if (name == "passcode" && value.empty())
            error = "passcode needs a value (nil or text)";
        else if (name == "passcode" && value.front() == '"' && (value.size() < 2 || value.back() != '"'))
            error = "unterminated quote in passcode";
        if (!error.empty())
            return std::nullopt;
        fields[name] = value;
    }
    for (auto required : { "passcode", "mesa", "finish" }) {
        if (!fields.count(required)) {
            error = std::string("missing ") + required + "=";
            return std::nullopt;
        }
    }
    AttemptFields parsed;
    if (fields["passcode"] != "nil")
        parsed.passcode = Device::unquote(fields["passcode"]);
    parsed.mesa = yesNo(fields["mesa"]);
    parsed.finish = yesNo(fields["finish"]);
    if (fields.count("result"))
        parsed.result = yesNo(fields["result"]);
    return parsed;
}

std::optional<Command> parseSettings(const Words& words, std::string& error)
{
    if (words.size() < 2)
        return usage(error, "settings KEY=VALUE ... | settings remove KEY ... | settings delete | settings corrupt");
    if (words[1] == "remove") {
        if (words.size() < 3)
            return usage(error, "settings remove KEY ...");
        SettingsRemove remove;
        for (size_t i = 2; i < words.size(); ++i)
            remove.keys.push_back(Device::unquote(words[i]));
        return remove;
    }
    if (words[1] == "delete" || words[1] == "corrupt") {
        if (words.size() != 2)
            return usage(error, "settings " + words[1]);
        return words[1] == "delete" ? Command(SettingsDelete {}) : Command(SettingsCorrupt {});
    }
    SettingsWrite write;
    for (size_t i = 1; i < words.size(); ++i) {
        auto entry = assignment(words[i], error);
        if (!entry)
            return std::nullopt;
        write.entries.push_back(std::move(*entry));
    }
    return write;
}

std::optional<Command> parseFace(const Words& words, std::string& error)
{
    if (words.size() == 2 && words[1] == "match")
        return Driver::FaceMatch {};
    if (words.size() == 2 && words[1] == "fail")
        return Driver::FaceFail {};
    if (words.size() == 3 && words[1] == "event") {
        if (auto event = Device::parseInteger(words[2]))
            return Driver::FaceEvent { *event };
    }
    if (words.size() == 3 && words[1] == "next" && oneOf(words[2], { "match", "fail" }))
        return Driver::FaceNext { words[2] == "match" };
    return usage(error, "face match | face fail | face event N | face next match|fail");
}

std::optional<Command> parseNotification(const Words& words, std::string& error)
{
    if (words.size() == 3 && words[1] == "add") {
        // A bare word is the identifier as written; nil is a request without one.
        std::string ignored;
        auto value = parseValue(words[2], ignored);
        if (value && *value && !((*value)->isString() || (*value)->isInteger() || (*value)->isReal()))
            return failure(error, "a section identifier is text or nil");
        Driver::NotificationAdd add;
        if (words[2] != "nil")
            add.section = Device::unquote(words[2]);
        return add;
    }
    if (words.size() == 2 && words[1] == "clear")
        return Driver::NotificationClear {};
    if (words.size() == 2 && words[1] == "new-controller")
        return Driver::NotificationNewController {};
    return usage(error, "notification add SECTION_ID | notification clear | notification new-controller");
}

std::optional<Command> parseExpect(const Words& words, ScenarioPhase& phase, std::string& error)
{
    if (words.size() < 2)
        return usage(error, "expect WHAT ...");
    const auto& what = words[1];
    if (oneOf(what, { "lockscreen", "device", "attempt", "no-attempt", "biometric", "no-biometric", "decision" })
        && !needsBoot(words, phase, error))
        return std::nullopt;
    if (what == "lockscreen") {
        if (words.size() != 3 || !oneOf(words[2], { "shown", "dismissed" }))
            return usage(error, "expect lockscreen shown|dismissed");
        return ExpectLockscreen { {}, words[2] == "shown" };
    }
    if (what == "device") {
        if (words.size() != 3 || !oneOf(words[2], { "locked", "unlocked" }))
            return usage(error, "expect device locked|unlocked");
        return ExpectDevice { {}, words[2] == "locked" };
    }
    if (what == "attempt") {
        auto fields = attemptFields(words, 2, true, error);
        if (!fields)
            return std::nullopt;
        return ExpectAttempt { {}, fields->passcode, fields->mesa, fields->finish, fields->result };
    }
    if (oneOf(what, { "no-attempt", "no-biometric", "respring", "no-respring" })) {
        if (words.size() != 2)
            return usage(error, "expect " + what);
        if (what == "no-attempt")
            return ExpectNoAttempt {};
        if (what == "no-biometric")
            return ExpectNoBiometric {};
        return what == "respring" ? Command(ExpectRespring {}) : Command(ExpectNoRespring {});
    }
    if (what == "biometric") {
        using Kind = Driver::BiometricCall::Kind;
        if (words.size() == 3) {
            for (auto kind : { Kind::SetAuthenticatedNo, Kind::ScreenOff, Kind::ScreenOn }) {
                if (words[2] == Driver::name(kind))
                    return ExpectBiometric { {}, kind };
            }
        }
        return usage(error, "expect biometric set-authenticated=no|screen-off|screen-on");
    }
    if (what == "decision") {
        constexpr std::string_view decisionUsage = "expect decision OUTCOME [reason=REASON]";
        auto outcome = words.size() >= 3 ? Driver::decisionOutcomeNamed(words[2]) : std::nullopt;
        if (!outcome || words.size() > 4)
            return usage(error, decisionUsage);
        ExpectDecision expected { {}, *outcome, std::nullopt };
        if (words.size() == 4) {
            auto reason
                = words[3].starts_with("reason=") ? Driver::decisionReasonNamed(words[3].substr(7)) : std::nullopt;
            if (!reason)
                return usage(error, decisionUsage);
            expected.reason = *reason;
        }
        return expected;
    }
    if (oneOf(what, { "log", "no-log", "posted" })) {
        if (words.size() != 3 || Device::unquote(words[2]).empty())
            return usage(error, "expect " + what + (what == "posted" ? " NAME" : " TEXT"));
        if (what == "posted")
            return ExpectPosted { {}, Device::unquote(words[2]) };
        return ExpectLog { {}, Device::unquote(words[2]), what == "log" };
    }
    if (what == "package") {
        if (words.size() == 4 && words[2] == "installed")
            return ExpectPackage { {}, Device::unquote(words[3]) };
        if (words.size() == 3 && words[2] == "absent")
            return ExpectPackage { {}, std::nullopt };
        return usage(error, "expect package installed VERSION | expect package absent");
    }
    if (what == "setting") {
        if (words.size() == 4 && words[3] == "absent" && words[2].find('=') == std::string::npos)
            return ExpectSetting { {}, Device::unquote(words[2]), std::nullopt };
        if (words.size() != 3)
            return usage(error, "expect setting KEY=VALUE | expect setting KEY absent");
        auto entry = assignment(words[2], error);
        if (!entry)
            return std::nullopt;
        return ExpectSetting { {}, entry->first, entry->second };
    }
    return failure(error, "unknown check " + what);
}

const std::map<std::string, Parser, std::less<>>& parsers()
{
    static const std::map<std::string, Parser, std::less<>> table = {
        { "ios",
            [](const Words& words, ScenarioPhase& phase, std::string& error) -> std::optional<Command> {
                if (!beforeBoot(words, phase, error))
                    return std::nullopt;
                Platform::SystemVersion version;
                if (words.size() != 2 || !Platform::parseSystemVersion(words[1], version))
                    return usage(error, "ios VERSION (for example 12.4 or 13.0)");
                if (version.major < 10)
                    return failure(error, "iOS " + words[1] + " is older than any release the system runs on (10.0)");
                return SetIos { version };
            } },
        { "cf",
            [](const Words& words, ScenarioPhase& phase, std::string& error) -> std::optional<Command> {
                if (!beforeBoot(words, phase, error))
                    return std::nullopt;
                auto number = words.size() == 2 ? Device::parseReal(words[1]) : std::nullopt;
                if (!number)
                    return usage(error, "cf NUMBER");
                return SetCoreFoundation { *number };
            } },
        { "notifications-route",
            [](const Words& words, ScenarioPhase& phase, std::string& error) -> std::optional<Command> {
                if (!beforeBoot(words, phase, error))
                    return std::nullopt;
                using Route = Driver::NotificationRoute;
                if (words.size() == 2) {
                    for (auto route : { Route::Priority, Route::Structured, Route::None }) {
                        if (words[1] == Driver::name(route))
                            return SetNotificationsRoute { route };
                    }
                }
                return usage(error, "notifications-route priority|structured|none");
            } },
        { "companion",
            [](const Words& words, ScenarioPhase& phase, std::string& error) -> std::optional<Command> {
                if (!beforeBoot(words, phase, error))
                    return std::nullopt;
                if (words.size() != 2 || !oneOf(words[1], { "installed", "absent" }))
                    return usage(error, "companion installed|absent");
                return SetCompanion { words[1] == "installed" };
            } },
        { "process",
            [](const Words& words, ScenarioPhase& phase, std::string& error) -> std::optional<Command> {
                if (!beforeBoot(words, phase, error))
                    return std::nullopt;
                std::string name = words.size() == 2 ? Device::unquote(words[1]) : std::string();
                if (name.empty() || name.find('/') != std::string::npos || name.find('\0') != std::string::npos)
                    return usage(error, "process NAME (a file name, without slashes)");
                return SetProcessName { name };
            } },
        { "settings",
            [](const Words& words, ScenarioPhase&, std::string& error) { return parseSettings(words, error); } },
        { "package",
            [](const Words& words, ScenarioPhase&, std::string& error) -> std::optional<Command> {
                if (words.size() >= 2 && words.size() <= 3 && words[1] == "install") {
                    PackageInstall install;
                    if (words.size() == 3)
                        install.file = Device::unquote(words[2]);
                    return install;
                }
                if (words.size() == 2 && (words[1] == "remove" || words[1] == "purge"))
                    return PackageRemove { words[1] == "purge" };
                return usage(error, "package install [FILE.deb] | package remove | package purge");
            } },
        { "boot",
            [](const Words& words, ScenarioPhase& phase, std::string& error) -> std::optional<Command> {
                if (phase.booted)
                    return failure(error, "the device is already booted");
                if (words.size() > 2 || (words.size() == 2 && words[1] != "launching"))
                    return usage(error, "boot [launching]");
                phase.booted = true;
                return Boot { words.size() == 1 };
            } },
        { "finish-launching", bare<Driver::FinishLaunching>("finish-launching", true) },
        { "host",
            [](const Words& words, ScenarioPhase& phase, std::string& error) -> std::optional<Command> {
                if (!needsBoot(words, phase, error))
                    return std::nullopt;
                if (words.size() != 3 || !oneOf(words[1], { "attempt-result", "ui-locked" })
                    || !oneOf(words[2], { "yes", "no" }))
                    return usage(error, "host attempt-result yes|no | host ui-locked yes|no");
                if (words[1] == "attempt-result")
                    return Driver::HostAttemptResult { yesNo(words[2]) };
                return Driver::HostUILocked { yesNo(words[2]) };
            } },
        { "lock", bare<Driver::Lock>("lock", true) },
        { "face",
            [](const Words& words, ScenarioPhase& phase, std::string& error) -> std::optional<Command> {
                if (!needsBoot(words, phase, error))
                    return std::nullopt;
                return parseFace(words, error);
            } },
        { "attempt",
            [](const Words& words, ScenarioPhase& phase, std::string& error) -> std::optional<Command> {
                if (!needsBoot(words, phase, error))
                    return std::nullopt;
                auto fields = attemptFields(words, 1, false, error);
                if (!fields)
                    return std::nullopt;
                return Driver::Attempt { fields->passcode, fields->mesa, fields->finish };
            } },
        { "touch", bare<Driver::Touch>("touch", true) },
        { "aod",
            [](const Words& words, ScenarioPhase& phase, std::string& error) -> std::optional<Command> {
                if (!needsBoot(words, phase, error))
                    return std::nullopt;
                using Action = Driver::AodAction;
                if (words.size() == 2) {
                    for (auto action : { Action::Tap, Action::DoubleTap, Action::Hide, Action::PostHide }) {
                        if (words[1] == Driver::name(action))
                            return Driver::Aod { action };
                    }
                }
                return usage(error, "aod tap|double-tap|hide|post-hide");
            } },
        { "quick-actions",
            [](const Words& words, ScenarioPhase& phase, std::string& error) -> std::optional<Command> {
                if (!needsBoot(words, phase, error))
                    return std::nullopt;
                if (words.size() != 2 || words[1] != "appear")
                    return usage(error, "quick-actions appear");
                return Driver::QuickActionsAppear {};
            } },
        { "flashlight",
            [](const Words& words, ScenarioPhase& phase, std::string& error) -> std::optional<Command> {
                if (!needsBoot(words, phase, error))
                    return std::nullopt;
                auto level = words.size() == 2 ? Device::parseInteger(words[1]) : std::nullopt;
                if (!level)
                    return usage(error, "flashlight LEVEL (a 64-bit integer)");
                return Driver::Flashlight { *level };
            } },
        { "audio",
            [](const Words& words, ScenarioPhase& phase, std::string& error) -> std::optional<Command> {
                if (!needsBoot(words, phase, error))
                    return std::nullopt;
                if (words.size() != 2 || !oneOf(words[1], { "playing", "stopped" }))
                    return usage(error, "audio playing|stopped");
                return Driver::Audio { words[1] == "playing" };
            } },
        { "notification",
            [](const Words& words, ScenarioPhase& phase, std::string& error) -> std::optional<Command> {
                if (!needsBoot(words, phase, error))
                    return std::nullopt;
                return parseNotification(words, error);
            } },
        { "respring", bare<Respring>("respring", false) },
        { "post",
            [](const Words& words, ScenarioPhase&, std::string& error) -> std::optional<Command> {
                if (words.size() != 2 || Device::unquote(words[1]).empty())
                    return usage(error, "post NAME");
                auto name = Device::unquote(words[1]);
                if (!Platform::isValidNotificationName(name))
                    return failure(error,
                        "a notification name is 1 to " + std::to_string(Platform::maximumNotificationNameLength)
                            + " bytes of UTF-8 (this one is " + std::to_string(name.size()) + " bytes"
                            + (name.size() <= Platform::maximumNotificationNameLength ? ", and not UTF-8)" : ")"));
                return Post { name };
            } },
        { "pane",
            [](const Words& words, ScenarioPhase&, std::string& error) -> std::optional<Command> {
                if (words.size() == 4 && words[1] == "set")
                    return PaneSet { Device::unquote(words[2]), words[3] };
                if (words.size() == 3 && words[1] == "tap")
                    return PaneTap { Device::unquote(words[2]) };
                return usage(error, "pane set KEY VALUE | pane tap ACTION");
            } },
        { "wait",
            [](const Words& words, ScenarioPhase&, std::string& error) -> std::optional<Command> {
                auto seconds = words.size() == 2 ? Device::parseReal(words[1]) : std::nullopt;
                if (!seconds || !(*seconds >= 0) || *seconds > 1e9)
                    return usage(error, "wait SECONDS (a number from 0 up)");
                return Wait { int64_t(std::llround(*seconds * 1e9)) };
            } },
        { "state", bare<PrintState>("state", false) },
        { "expect", parseExpect },
    };
    return table;
}

} // namespace

std::optional<ScenarioValue> parseValue(std::string_view word, std::string& error)
{
    if (word == "yes" || word == "no")
        return Value::boolean(word == "yes");
    if (word == "nil")
        return ScenarioValue();
    if (!word.empty() && word.front() == '"') {
        if (word.size() < 2 || word.back() != '"') {
            error = "unterminated quote in " + std::string(word);
            return std::nullopt;
        }
        return Value::string(Device::unquote(word));
    }
    // Whole numbers are integers: one that does not fit in 64 bits is an error, not a real.
    std::string why;
    if (auto number = Device::parseNumber(word, why))
        return number->isInteger ? Value::integer(number->integer) : Value::real(number->real);
    if (!why.empty()) {
        error = why;
        return std::nullopt;
    }
    error = "bad value " + std::string(word) + " (use yes, no, a number, nil or \"text\")";
    return std::nullopt;
}

std::string describeValue(const ScenarioValue& value)
{
    if (!value)
        return "nil";
    if (value->isBoolean())
        return value->boolValue() ? "yes" : "no";
    if (value->isInteger())
        return std::to_string(value->integerValue());
    if (value->isReal())
        return Device::realText(value->doubleValue());
    if (value->asString())
        return Device::quotedWord(*value->asString());
    return "nil";
}

ParsedLine parseCommand(std::string_view line, ScenarioPhase& phase)
{
    ParsedLine parsed;
    if (line.find('\0') != std::string_view::npos) {
        parsed.error = "a NUL byte in the line";
        return parsed;
    }
    constexpr size_t maximumLength = maximumLineLength;
    if (line.size() > maximumLength) {
        parsed.error = "a line longer than " + std::to_string(maximumLength) + " bytes";
        return parsed;
    }
    auto words = Device::splitWords(line, parsed.error);
    if (!words || words->empty())
        return parsed;
    auto found = parsers().find((*words)[0]);
    if (found == parsers().end()) {
        parsed.error = "unknown command " + (*words)[0];
        return parsed;
    }
    // A failed parse leaves the phase as it was.
    ScenarioPhase next = phase;
    parsed.command = found->second(*words, next, parsed.error);
    if (parsed.command)
        phase = next;
    return parsed;
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
        ++number;
        auto parsed = parseCommand(text.substr(start, end - start), phase);
        start = end + 1;
        if (!parsed.ok()) {
            error = std::to_string(number) + ": " + parsed.error;
            return std::nullopt;
        }
        if (parsed.command)
            scenario.lines.push_back({ number, std::move(*parsed.command) });
        if (end == text.size())
            break;
    }
    return scenario;
}

std::optional<Scenario> readScenario(int descriptor, std::string& error)
{
    Scenario scenario;
    ScenarioPhase phase;
    LineReader reader(descriptor, maximumLineLength);
    std::string line;
    for (int number = 1;; ++number) {
        auto status = reader.next(line);
        if (status == LineReader::Status::End)
            return scenario;
        if (status == LineReader::Status::Error) {
            error = std::to_string(number) + ": cannot read the scenario: " + std::strerror(errno);
            return std::nullopt;
        }
        if (status == LineReader::Status::TooLong) {
            error = std::to_string(number) + ": a line longer than " + std::to_string(maximumLineLength) + " bytes";
            return std::nullopt;
        }
        auto parsed = parseCommand(line, phase);
        if (!parsed.ok()) {
            error = std::to_string(number) + ": " + parsed.error;
            return std::nullopt;
        }
        if (parsed.command)
            scenario.lines.push_back({ number, std::move(*parsed.command) });
    }
}

} // namespace Kestrel
