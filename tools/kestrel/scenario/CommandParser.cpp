#include "tools/kestrel/scenario/CommandParser.h"

#include "host/device/Words.h"
#include "platform/Lines.h"
#include "platform/notify/NotifyMessage.h"
#include "platform/plist/ValueVisit.h"
#include "tools/kestrel/scenario/LineReader.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <utility>

namespace Kestrel {

namespace {

using Device::yesNo;
using Driver::named;
using Platform::Plist::Value;
using Words = std::vector<std::string>;

// The scenario's own words of two-way commands, for the parser and describe() alike.
constexpr Device::BoolWords faceNextWords { "match", "fail" };
constexpr Device::BoolWords packageRemoveWords { "purge", "remove" };

using Platform::Expected;
using Platform::Failure;

Failure usage(std::string_view text) { return Failure { "usage: " + std::string(text) }; }

bool oneOf(std::string_view word, std::initializer_list<std::string_view> choices)
{
    for (auto choice : choices) {
        if (word == choice)
            return true;
    }
    return false;
}

// A parser of one command's words, after the phase has been checked: the command, or what is
// wrong with the line.
using Parser = Expected<Command> (*)(const Words&, ScenarioPhase&);

// Where in a scenario a command may stand.
enum class Phase { Any, BeforeBoot, Booted };

struct CommandForm {
    Phase phase;
    Parser parse;
};

// A command of exactly one word.
template <typename T> Expected<Command> bare(const Words& words, ScenarioPhase&)
{
    if (words.size() != 1)
        return usage(words[0]);
    return T {};
}

// KEY=VALUE with a value of the scenario's kinds.
Expected<std::pair<std::string, ScenarioValue>> assignment(std::string_view word)
{
    size_t equals = word.find('=');
    if (equals == std::string_view::npos || equals == 0)
        return Failure { "expected KEY=VALUE, got " + std::string(word) };
    auto value = parseValue(word.substr(equals + 1));
    if (!value)
        return value.failure();
    return std::make_pair(Device::unquote(word.substr(0, equals)), std::move(*value));
}

// The field=value words of an attempt, each field once, in any order.
struct AttemptFields {
    std::optional<std::string> passcode;
    bool mesa { false };
    bool finish { false };
    std::optional<bool> result;
};

Expected<AttemptFields> attemptFields(const Words& words, size_t first, bool allowResult)
{
    std::map<std::string, std::string> fields;
    for (size_t i = first; i < words.size(); ++i) {
        size_t equals = words[i].find('=');
        if (equals == std::string::npos)
            return Failure { "expected field=value, got " + words[i] };
        std::string name = words[i].substr(0, equals);
        std::string value = words[i].substr(equals + 1);
        std::string error;
        if (!oneOf(name, { "passcode", "mesa", "finish" }) && !(allowResult && name == "result"))
            error = "unknown field " + name;
        else if (fields.count(name))
            error = "field " + name + " given twice";
        else if (name != "passcode" && !yesNo.read(value))
            error = name + " must be yes or no";
        else if (name == "passcode" && value.empty())
            error = "passcode needs a value (nil or text)";
        else if (name == "passcode" && value.front() == '"' && (value.size() < 2 || value.back() != '"'))
            error = "unterminated quote in passcode";
        if (!error.empty())
            return Failure { error };
        fields[name] = value;
    }
    for (auto required : { "passcode", "mesa", "finish" }) {
        if (!fields.count(required))
            return Failure { std::string("missing ") + required + "=" };
    }
    AttemptFields parsed;
    if (fields["passcode"] != "nil")
        parsed.passcode = Device::unquote(fields["passcode"]);
    parsed.mesa = *yesNo.read(fields["mesa"]);
    parsed.finish = *yesNo.read(fields["finish"]);
    if (fields.count("result"))
        parsed.result = *yesNo.read(fields["result"]);
    return parsed;
}

// A text as one word that reads back as that text: displayWord's, quoted where a bare
// word would read as yes or no.
std::string textWord(const std::string& text)
{
    return yesNo.read(text) ? Device::quotedWord(text) : Device::displayWord(text);
}

Expected<Command> parseSettings(const Words& words, ScenarioPhase&)
{
    if (words.size() < 2)
        return usage("settings KEY=VALUE ... | settings remove KEY ... | settings delete | settings corrupt");
    if (words[1] == "remove") {
        if (words.size() < 3)
            return usage("settings remove KEY ...");
        SettingsRemove remove;
        for (size_t i = 2; i < words.size(); ++i)
            remove.keys.push_back(Device::unquote(words[i]));
        return remove;
    }
    if (words[1] == "delete" || words[1] == "corrupt") {
        if (words.size() != 2)
            return usage("settings " + words[1]);
        return words[1] == "delete" ? Command(SettingsDelete {}) : Command(SettingsCorrupt {});
    }
    SettingsWrite write;
    for (size_t i = 1; i < words.size(); ++i) {
        auto entry = assignment(words[i]);
        if (!entry)
            return entry.failure();
        write.entries.push_back(std::move(*entry));
    }
    return write;
}

Expected<Command> parseFace(const Words& words, ScenarioPhase&)
{
    if (words.size() == 2 && words[1] == "match")
        return Driver::FaceMatch {};
    if (words.size() == 2 && words[1] == "fail")
        return Driver::FaceFail {};
    if (words.size() == 3 && words[1] == "event") {
        if (auto event = Device::parseInteger(words[2]))
            return Driver::FaceEvent { *event };
    }
    if (words.size() == 3 && words[1] == "next") {
        if (auto match = faceNextWords.read(words[2]))
            return Driver::FaceNext { *match };
    }
    return usage("face match | face fail | face event N | face next match|fail");
}

Expected<Command> parseNotification(const Words& words, ScenarioPhase&)
{
    if (words.size() == 3 && words[1] == "add") {
        // A bare word is the identifier as written; nil is a request without one.
        auto value = parseValue(words[2]);
        if (value && *value && !((*value)->isString() || (*value)->isInteger() || (*value)->isReal()))
            return Failure { "a section identifier is text or nil" };
        Driver::NotificationAdd add;
        if (words[2] != "nil")
            add.section = Device::unquote(words[2]);
        return add;
    }
    if (words.size() == 2 && words[1] == "clear")
        return Driver::NotificationClear {};
    if (words.size() == 2 && words[1] == "new-controller")
        return Driver::NotificationNewController {};
    return usage("notification add SECTION_ID | notification clear | notification new-controller");
}

// --- The checks: `expect WHAT ...`, one parser for each WHAT. ---

Expected<ExpectLockscreen> expectLockscreen(const Words& words)
{
    auto shown = words.size() == 3 ? Driver::Facts::lockscreen.words.read(words[2]) : std::nullopt;
    if (!shown)
        return usage("expect lockscreen shown|dismissed");
    return ExpectLockscreen { {}, *shown };
}

Expected<ExpectDevice> expectDevice(const Words& words)
{
    auto locked = words.size() == 3 ? Driver::Facts::device.words.read(words[2]) : std::nullopt;
    if (!locked)
        return usage("expect device locked|unlocked");
    return ExpectDevice { {}, *locked };
}

Expected<ExpectAttempt> expectAttempt(const Words& words)
{
    auto fields = attemptFields(words, 2, true);
    if (!fields)
        return fields.failure();
    return ExpectAttempt { {}, fields->passcode, fields->mesa, fields->finish, fields->result };
}

// `expect WHAT` alone.
template <typename T> Expected<T> expectBare(const Words& words)
{
    if (words.size() != 2)
        return usage("expect " + words[1]);
    return T {};
}

Expected<ExpectBiometric> expectBiometric(const Words& words)
{
    using Kind = Driver::BiometricCall::Kind;
    auto kind = words.size() == 3 ? named<Kind>(words[2]) : std::nullopt;
    // The host sets the resource authenticated itself, after every match: only its clearing is checked.
    if (!kind || *kind == Kind::SetAuthenticatedYes)
        return usage("expect biometric set-authenticated=no|screen-off|screen-on");
    return ExpectBiometric { {}, *kind };
}

Expected<ExpectDecision> expectDecision(const Words& words)
{
    constexpr std::string_view decisionUsage = "expect decision OUTCOME [reason=REASON]";
    auto outcome = words.size() >= 3 ? named<Driver::Decision::Outcome>(words[2]) : std::nullopt;
    if (!outcome || words.size() > 4)
        return usage(decisionUsage);
    ExpectDecision expected { {}, *outcome, std::nullopt };
    if (words.size() == 4) {
        auto reason
            = words[3].starts_with("reason=") ? named<Driver::Decision::Reason>(words[3].substr(7)) : std::nullopt;
        if (!reason)
            return usage(decisionUsage);
        expected.reason = *reason;
    }
    return expected;
}

// The text a log or posted check looks for; nullopt after the usage line when there is none.
Expected<std::string> checkedText(const Words& words, const char* placeholder)
{
    if (words.size() != 3 || Device::unquote(words[2]).empty())
        return usage("expect " + words[1] + " " + placeholder);
    return Device::unquote(words[2]);
}

Expected<ExpectLog> expectLog(const Words& words)
{
    auto text = checkedText(words, "TEXT");
    if (!text)
        return text.failure();
    return ExpectLog { {}, *text, words[1] == "log" };
}

Expected<ExpectPosted> expectPosted(const Words& words)
{
    auto name = checkedText(words, "NAME");
    if (!name)
        return name.failure();
    return ExpectPosted { {}, *name };
}

Expected<ExpectPackage> expectPackage(const Words& words)
{
    if (words.size() == 4 && words[2] == "installed")
        return ExpectPackage { {}, Device::unquote(words[3]) };
    if (words.size() == 3 && words[2] == "absent")
        return ExpectPackage { {}, std::nullopt };
    return usage("expect package installed VERSION | expect package absent");
}

Expected<ExpectSetting> expectSetting(const Words& words)
{
    if (words.size() == 4 && words[3] == "absent" && words[2].find('=') == std::string::npos)
        return ExpectSetting { {}, Device::unquote(words[2]), std::nullopt };
    if (words.size() != 3)
        return usage("expect setting KEY=VALUE | expect setting KEY absent");
    auto entry = assignment(words[2]);
    if (!entry)
        return entry.failure();
    return ExpectSetting { {}, entry->first, entry->second };
}

template <typename T, typename... Alternatives> constexpr size_t indexIn(const std::variant<Alternatives...>*)
{
    constexpr bool same[] = { std::is_same_v<T, Alternatives>... };
    for (size_t i = 0; i < sizeof...(Alternatives); ++i) {
        if (same[i])
            return i;
    }
    return sizeof...(Alternatives);
}
template <typename T> constexpr size_t commandIndex = indexIn<T>(static_cast<const Command*>(nullptr));

// One form of check: the word after expect, whether the check needs a booted device, and
// which command it parses into.
struct CheckForm {
    std::string_view what;
    bool needsBoot;
    size_t alternative;
    Expected<Command> (*parse)(const Words&);
};

template <typename T, Expected<T> (*parse)(const Words&)>
constexpr CheckForm checkForm(std::string_view what, bool needsBoot)
{
    return { what, needsBoot, commandIndex<T>, [](const Words& words) -> Expected<Command> {
                auto check = parse(words);
                if (!check)
                    return check.failure();
                return Command(std::move(*check));
            } };
}

// The checks that look at SpringBoard, or at what it reported, need it booted.
constexpr CheckForm checkForms[] = {
    checkForm<ExpectLockscreen, expectLockscreen>("lockscreen", true),
    checkForm<ExpectDevice, expectDevice>("device", true),
    checkForm<ExpectAttempt, expectAttempt>("attempt", true),
    checkForm<ExpectNoAttempt, expectBare<ExpectNoAttempt>>("no-attempt", true),
    checkForm<ExpectBiometric, expectBiometric>("biometric", true),
    checkForm<ExpectNoBiometric, expectBare<ExpectNoBiometric>>("no-biometric", true),
    checkForm<ExpectDecision, expectDecision>("decision", true),
    checkForm<ExpectRespring, expectBare<ExpectRespring>>("respring", false),
    checkForm<ExpectNoRespring, expectBare<ExpectNoRespring>>("no-respring", false),
    checkForm<ExpectLog, expectLog>("log", false),
    checkForm<ExpectLog, expectLog>("no-log", false),
    checkForm<ExpectPosted, expectPosted>("posted", false),
    checkForm<ExpectPackage, expectPackage>("package", false),
    checkForm<ExpectSetting, expectSetting>("setting", false),
};

constexpr bool everyCheckHasAForm()
{
    return []<size_t... index>(std::index_sequence<index...>)
    {
        auto hasForm = [](size_t alternative) {
            for (auto& form : checkForms) {
                if (form.alternative == alternative)
                    return true;
            }
            return false;
        };
        return ((!isCheck<std::variant_alternative_t<index, Command>> || hasForm(index)) && ...);
    }
    (std::make_index_sequence<std::variant_size_v<Command>>());
}
static_assert(everyCheckHasAForm(), "every check of the scenario language has a form after expect");

Expected<Command> parseExpect(const Words& words, ScenarioPhase& phase)
{
    if (words.size() < 2)
        return usage("expect WHAT ...");
    for (auto& form : checkForms) {
        if (words[1] != form.what)
            continue;
        if (form.needsBoot && !phase.booted)
            return Failure { words[0] + " needs a booted device (add boot first)" };
        return form.parse(words);
    }
    return Failure { "unknown check " + words[1] };
}

// --- The commands, by their first word. ---

Expected<Command> parseIos(const Words& words, ScenarioPhase&)
{
    Platform::SystemVersion version;
    if (words.size() != 2 || !Platform::parseSystemVersion(words[1], version))
        return usage("ios VERSION (for example 12.4 or 13.0)");
    if (version.major < 10)
        return Failure { "iOS " + words[1] + " is older than any release the system runs on (10.0)" };
    return SetIos { version };
}

Expected<Command> parseCoreFoundation(const Words& words, ScenarioPhase&)
{
    auto number = words.size() == 2 ? Device::parseReal(words[1]) : std::nullopt;
    if (!number)
        return usage("cf NUMBER");
    return SetCoreFoundation { *number };
}

Expected<Command> parseNotificationsRoute(const Words& words, ScenarioPhase&)
{
    auto route = words.size() == 2 ? named<Driver::NotificationRoute>(words[1]) : std::nullopt;
    if (!route)
        return usage("notifications-route priority|structured|none");
    return SetNotificationsRoute { *route };
}

Expected<Command> parseCompanion(const Words& words, ScenarioPhase&)
{
    auto installed = words.size() == 2 ? Driver::Facts::companion.words.read(words[1]) : std::nullopt;
    if (!installed)
        return usage("companion installed|absent");
    return SetCompanion { *installed };
}

Expected<Command> parseProcess(const Words& words, ScenarioPhase&)
{
    std::string name = words.size() == 2 ? Device::unquote(words[1]) : std::string();
    if (name.empty() || name.find('/') != std::string::npos || name.find('\0') != std::string::npos)
        return usage("process NAME (a file name, without slashes)");
    return SetProcessName { name };
}

Expected<Command> parsePackage(const Words& words, ScenarioPhase&)
{
    if (words.size() >= 2 && words.size() <= 3 && words[1] == "install") {
        PackageInstall install;
        if (words.size() == 3)
            install.file = Device::unquote(words[2]);
        return install;
    }
    if (auto purge = words.size() == 2 ? packageRemoveWords.read(words[1]) : std::nullopt)
        return PackageRemove { *purge };
    return usage("package install [FILE.deb] | package remove | package purge");
}

Expected<Command> parseBoot(const Words& words, ScenarioPhase& phase)
{
    if (phase.booted)
        return Failure { "the device is already booted" };
    if (words.size() > 2 || (words.size() == 2 && words[1] != "launching"))
        return usage("boot [launching]");
    phase.booted = true;
    return Boot { words.size() == 1 };
}

Expected<Command> parseHost(const Words& words, ScenarioPhase&)
{
    auto value = words.size() == 3 ? yesNo.read(words[2]) : std::nullopt;
    if (value && words[1] == "attempt-result")
        return Driver::HostAttemptResult { *value };
    if (value && words[1] == "ui-locked")
        return Driver::HostUILocked { *value };
    return usage("host attempt-result yes|no | host ui-locked yes|no");
}

Expected<Command> parseAttempt(const Words& words, ScenarioPhase&)
{
    auto fields = attemptFields(words, 1, false);
    if (!fields)
        return fields.failure();
    return Driver::Attempt { fields->passcode, fields->mesa, fields->finish };
}

Expected<Command> parseAod(const Words& words, ScenarioPhase&)
{
    auto action = words.size() == 2 ? named<Driver::AodAction>(words[1]) : std::nullopt;
    if (!action)
        return usage("aod tap|double-tap|hide|post-hide");
    return Driver::Aod { *action };
}

Expected<Command> parseQuickActions(const Words& words, ScenarioPhase&)
{
    if (words.size() != 2 || words[1] != "appear")
        return usage("quick-actions appear");
    return Driver::QuickActionsAppear {};
}

Expected<Command> parseFlashlight(const Words& words, ScenarioPhase&)
{
    auto level = words.size() == 2 ? Device::parseInteger(words[1]) : std::nullopt;
    if (!level)
        return usage("flashlight LEVEL (a 64-bit integer)");
    return Driver::Flashlight { *level };
}

Expected<Command> parseAudio(const Words& words, ScenarioPhase&)
{
    auto playing = words.size() == 2 ? Driver::Facts::audio.words.read(words[1]) : std::nullopt;
    if (!playing)
        return usage("audio playing|stopped");
    return Driver::Audio { *playing };
}

Expected<Command> parsePost(const Words& words, ScenarioPhase&)
{
    if (words.size() != 2 || Device::unquote(words[1]).empty())
        return usage("post NAME");
    auto name = Device::unquote(words[1]);
    if (!Platform::isValidNotificationName(name))
        return Failure { "a notification name is 1 to " + std::to_string(Platform::maximumNotificationNameLength)
            + " bytes of UTF-8 (this one is " + std::to_string(name.size()) + " bytes"
            + (name.size() <= Platform::maximumNotificationNameLength ? ", and not UTF-8)" : ")") };
    return Post { name };
}

Expected<Command> parsePane(const Words& words, ScenarioPhase&)
{
    if (words.size() == 4 && words[1] == "set")
        return PaneSet { Device::unquote(words[2]), words[3] };
    if (words.size() == 3 && words[1] == "tap")
        return PaneTap { Device::unquote(words[2]) };
    return usage("pane set KEY VALUE | pane tap ACTION");
}

Expected<Command> parseWait(const Words& words, ScenarioPhase&)
{
    auto seconds = words.size() == 2 ? Device::parseReal(words[1]) : std::nullopt;
    if (!seconds || !(*seconds >= 0) || *seconds > 1e9)
        return usage("wait SECONDS (a number from 0 up)");
    return Wait { int64_t(std::llround(*seconds * 1e9)) };
}

const std::map<std::string, CommandForm, std::less<>>& commandForms()
{
    static const std::map<std::string, CommandForm, std::less<>> table = {
        { "ios", { Phase::BeforeBoot, parseIos } },
        { "cf", { Phase::BeforeBoot, parseCoreFoundation } },
        { "notifications-route", { Phase::BeforeBoot, parseNotificationsRoute } },
        { "companion", { Phase::BeforeBoot, parseCompanion } },
        { "process", { Phase::BeforeBoot, parseProcess } },
        { "settings", { Phase::Any, parseSettings } },
        { "package", { Phase::Any, parsePackage } },
        { "boot", { Phase::Any, parseBoot } }, // says itself when the device is already booted
        { "finish-launching", { Phase::Booted, bare<Driver::FinishLaunching> } },
        { "host", { Phase::Booted, parseHost } },
        { "lock", { Phase::Booted, bare<Driver::Lock> } },
        { "face", { Phase::Booted, parseFace } },
        { "attempt", { Phase::Booted, parseAttempt } },
        { "touch", { Phase::Booted, bare<Driver::Touch> } },
        { "aod", { Phase::Booted, parseAod } },
        { "quick-actions", { Phase::Booted, parseQuickActions } },
        { "flashlight", { Phase::Booted, parseFlashlight } },
        { "audio", { Phase::Booted, parseAudio } },
        { "notification", { Phase::Booted, parseNotification } },
        { "respring", { Phase::Any, bare<Respring> } },
        { "post", { Phase::Any, parsePost } },
        { "pane", { Phase::Any, parsePane } },
        { "wait", { Phase::Any, parseWait } },
        { "state", { Phase::Any, bare<PrintState> } },
        { "expect", { Phase::Any, parseExpect } },
    };
    return table;
}

// "1.500", "0.000000001": seconds as the timeline writes them, with more decimals where they count.
std::string secondsText(int64_t nanoseconds)
{
    std::string fraction = std::to_string(1'000'000'000 + nanoseconds % 1'000'000'000).substr(1);
    while (fraction.size() > 3 && fraction.back() == '0')
        fraction.pop_back();
    return std::to_string(nanoseconds / 1'000'000'000) + "." + fraction;
}

// Each command as its line. A command without its own line here does not compile: the
// template below is deleted, so no command is written by another's conversion either.
struct Describer {
    template <typename T> std::string operator()(const T&) const = delete;

    std::string operator()(const SetIos& c) const { return "ios " + Platform::systemVersionString(c.version); }
    std::string operator()(const SetCoreFoundation& c) const { return "cf " + Device::realText(c.number); }
    std::string operator()(const SetNotificationsRoute& c) const
    {
        return std::string("notifications-route ") + Driver::name(c.route);
    }
    std::string operator()(const SetCompanion& c) const
    {
        return std::string("companion ") + Driver::Facts::companion.words(c.installed);
    }
    std::string operator()(const SetProcessName& c) const { return "process " + Device::displayWord(c.name); }
    std::string operator()(const SettingsWrite& c) const
    {
        std::string line = "settings";
        for (auto& [key, value] : c.entries)
            line += " " + Device::displayWord(key) + "=" + describeValue(value);
        return line;
    }
    std::string operator()(const SettingsRemove& c) const
    {
        std::string line = "settings remove";
        for (auto& key : c.keys)
            line += " " + Device::displayWord(key);
        return line;
    }
    std::string operator()(const SettingsDelete&) const { return "settings delete"; }
    std::string operator()(const SettingsCorrupt&) const { return "settings corrupt"; }
    std::string operator()(const PackageInstall& c) const
    {
        return c.file ? "package install " + Device::displayWord(*c.file) : "package install";
    }
    std::string operator()(const PackageRemove& c) const
    {
        return std::string("package ") + packageRemoveWords(c.purge);
    }
    std::string operator()(const Boot& c) const { return c.finishLaunching ? "boot" : "boot launching"; }
    std::string operator()(const Driver::FaceMatch&) const { return "face match"; }
    std::string operator()(const Driver::FaceFail&) const { return "face fail"; }
    std::string operator()(const Driver::FaceEvent& c) const { return "face event " + std::to_string(c.event); }
    std::string operator()(const Driver::FaceNext& c) const
    {
        return std::string("face next ") + faceNextWords(c.match);
    }
    std::string operator()(const Driver::Attempt& c) const
    {
        return Driver::attemptText(c.passcode, c.mesa, c.finish, std::nullopt);
    }
    std::string operator()(const Driver::Touch&) const { return "touch"; }
    std::string operator()(const Driver::Aod& c) const { return std::string("aod ") + Driver::name(c.action); }
    std::string operator()(const Driver::QuickActionsAppear&) const { return "quick-actions appear"; }
    std::string operator()(const Driver::Flashlight& c) const { return "flashlight " + std::to_string(c.level); }
    std::string operator()(const Driver::Audio& c) const { return Driver::Facts::audio.line(c.playing); }
    std::string operator()(const Driver::NotificationAdd& c) const
    {
        return "notification add " + (c.section ? textWord(*c.section) : "nil");
    }
    std::string operator()(const Driver::NotificationClear&) const { return "notification clear"; }
    std::string operator()(const Driver::NotificationNewController&) const { return "notification new-controller"; }
    std::string operator()(const Driver::HostAttemptResult& c) const
    {
        return std::string("host attempt-result ") + yesNo(c.result);
    }
    std::string operator()(const Driver::HostUILocked& c) const
    {
        return std::string("host ui-locked ") + yesNo(c.locked);
    }
    std::string operator()(const Driver::Lock&) const { return "lock"; }
    std::string operator()(const Driver::FinishLaunching&) const { return "finish-launching"; }
    std::string operator()(const Respring&) const { return "respring"; }
    std::string operator()(const Post& c) const { return "post " + Device::displayWord(c.name); }
    std::string operator()(const PaneSet& c) const { return "pane set " + Device::displayWord(c.key) + " " + c.word; }
    std::string operator()(const PaneTap& c) const { return "pane tap " + Device::displayWord(c.action); }
    std::string operator()(const Wait& c) const { return "wait " + secondsText(c.nanoseconds); }
    std::string operator()(const PrintState&) const { return "state"; }

    std::string operator()(const ExpectLockscreen& c) const
    {
        return "expect " + Driver::Facts::lockscreen.line(c.shown);
    }
    std::string operator()(const ExpectDevice& c) const { return "expect " + Driver::Facts::device.line(c.locked); }
    std::string operator()(const ExpectAttempt& c) const
    {
        return "expect " + Driver::attemptText(c.passcode, c.mesa, c.finish, c.result);
    }
    std::string operator()(const ExpectNoAttempt&) const { return "expect no-attempt"; }
    std::string operator()(const ExpectBiometric& c) const
    {
        return std::string("expect biometric ") + Driver::name(c.kind);
    }
    std::string operator()(const ExpectNoBiometric&) const { return "expect no-biometric"; }
    std::string operator()(const ExpectDecision& c) const
    {
        std::string line = std::string("expect decision ") + Driver::name(c.outcome);
        if (c.reason)
            line += std::string(" reason=") + Driver::name(*c.reason);
        return line;
    }
    std::string operator()(const ExpectRespring&) const { return "expect respring"; }
    std::string operator()(const ExpectNoRespring&) const { return "expect no-respring"; }
    std::string operator()(const ExpectLog& c) const
    {
        return std::string(c.present ? "expect log " : "expect no-log ") + Device::displayWord(c.text);
    }
    std::string operator()(const ExpectPosted& c) const { return "expect posted " + Device::displayWord(c.name); }
    std::string operator()(const ExpectPackage& c) const
    {
        return c.version ? "expect package installed " + Device::displayWord(*c.version) : "expect package absent";
    }
    std::string operator()(const ExpectSetting& c) const
    {
        if (!c.value)
            return "expect setting " + Device::displayWord(c.key) + " absent";
        return "expect setting " + Device::displayWord(c.key) + "=" + describeValue(c.value);
    }
};

} // namespace

Platform::Expected<ScenarioValue> parseValue(std::string_view word)
{
    if (word == "yes" || word == "no")
        return ScenarioValue(Value::boolean(word == "yes"));
    if (word == "nil")
        return ScenarioValue();
    if (!word.empty() && word.front() == '"') {
        if (word.size() < 2 || word.back() != '"')
            return Platform::Failure { "unterminated quote in " + std::string(word) };
        return ScenarioValue(Value::string(Device::unquote(word)));
    }
    // Whole numbers are integers: one that does not fit in 64 bits is an error, not a real.
    auto number = Device::parseNumber(word);
    if (!number)
        return number.failure();
    if (*number)
        return ScenarioValue((*number)->isInteger ? Value::integer((*number)->integer) : Value::real((*number)->real));
    return Platform::Failure { "bad value " + std::string(word) + " (use yes, no, a number, nil or \"text\")" };
}

std::string describeValue(const ScenarioValue& value)
{
    struct Word {
        std::string operator()(bool boolean) const { return yesNo(boolean); }
        std::string operator()(int64_t integer) const { return std::to_string(integer); }
        std::string operator()(uint64_t integer) const { return std::to_string(integer); }
        std::string operator()(double real) const { return Device::realText(real); }
        std::string operator()(const std::string& text) const { return Device::quotedWord(text); }
        std::string operator()(Platform::Plist::Kind kind) const { return std::string("a ") + kindName(kind); }
    };
    return value ? Platform::Plist::visitScalar(*value, Word {}) : "nil";
}

std::string describe(const Command& command) { return std::visit(Describer {}, command); }

ParsedLine parseCommand(std::string_view line, ScenarioPhase& phase)
{
    using Platform::Failure;
    if (line.find('\0') != std::string_view::npos)
        return Failure { "a NUL byte in the line" };
    constexpr size_t maximumLength = maximumLineLength;
    if (line.size() > maximumLength)
        return Failure { "a line longer than " + std::to_string(maximumLength) + " bytes" };
    auto words = Device::splitWords(line);
    if (!words)
        return words.failure();
    if (words->empty())
        return std::optional<Command>();
    const auto& name = (*words)[0];
    auto found = commandForms().find(name);
    if (found == commandForms().end())
        return Failure { "unknown command " + name };
    const auto& form = found->second;
    if (form.phase == Phase::BeforeBoot && phase.booted)
        return Failure { name + " sets up the device and must come before boot" };
    if (form.phase == Phase::Booted && !phase.booted)
        return Failure { name + " needs a booted device (add boot first)" };
    // A failed parse leaves the phase as it was.
    ScenarioPhase next = phase;
    auto command = form.parse(*words, next);
    if (!command)
        return command.failure();
    phase = next;
    return std::optional<Command>(std::move(*command));
}

Platform::Expected<Scenario> parseScenario(std::string_view text)
{
    Scenario scenario;
    ScenarioPhase phase;
    int number = 0;
    for (auto line : Platform::lines(text)) {
        ++number;
        auto parsed = parseCommand(line, phase);
        if (!parsed)
            return Platform::Failure { std::to_string(number) + ": " + parsed.error() };
        if (*parsed)
            scenario.lines.push_back({ number, std::move(**parsed) });
    }
    return scenario;
}

Platform::Expected<Scenario> readScenario(int descriptor)
{
    Scenario scenario;
    ScenarioPhase phase;
    LineReader reader(descriptor, maximumLineLength);
    std::string line;
    for (int number = 1;; ++number) {
        auto status = reader.next(line);
        if (status == LineReader::Status::End)
            return scenario;
        if (status == LineReader::Status::Error)
            return Platform::Failure { std::to_string(number) + ": cannot read the scenario: " + std::strerror(errno) };
        if (status == LineReader::Status::TooLong)
            return Platform::Failure { std::to_string(number) + ": a line longer than "
                + std::to_string(maximumLineLength) + " bytes" };
        auto parsed = parseCommand(line, phase);
        if (!parsed)
            return Platform::Failure { std::to_string(number) + ": " + parsed.error() };
        if (*parsed)
            scenario.lines.push_back({ number, std::move(**parsed) });
    }
}

} // namespace Kestrel
