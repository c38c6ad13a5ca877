#include "tools/kestrel/ScenarioRunner.h"

#include "host/device/DeviceLayout.h"
#include "host/device/LineChannel.h"
#include "platform/foundation/CoreFoundation.h"
#include "platform/fs/DeviceRoot.h"
#include "platform/log/SystemLog.h"
#include "platform/notify/Notify.h"
#include "platform/plist/PropertyList.h"
#include "platform/trace/Timeline.h"
#include "tools/kestrel/PaneDriver.h"

#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <thread>

namespace Kestrel {

namespace {

using namespace Platform::Plist;

constexpr const char* respringName = "com.plover.kestrel.respring";
constexpr int64_t respringWaitMilliseconds = 5000;
constexpr int64_t noRespringSettleMilliseconds = 500;

int64_t monotonicNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool isBiometricCall(const std::string& text)
{
    return text == "biometric set-authenticated=no" || text == "biometric set-authenticated=yes" || text == "biometric screen-off"
        || text == "biometric screen-on";
}

std::optional<Value> toPlistValue(const ScenarioValue& value)
{
    switch (value.kind) {
    case ScenarioValue::Kind::Boolean:
        return Value::boolean(value.boolean);
    case ScenarioValue::Kind::Integer:
        return Value::integer(value.integer);
    case ScenarioValue::Kind::Real:
        return Value::real(value.real);
    case ScenarioValue::Kind::String:
        return Value::string(value.string);
    case ScenarioValue::Kind::Nil:
        return std::nullopt;
    }
    return std::nullopt;
}

std::string describePlistValue(const Value& value)
{
    switch (value.kind()) {
    case Kind::Boolean:
        return value.boolValue() ? "yes" : "no";
    case Kind::Integer:
        return value.isLargeUnsigned() ? std::to_string(value.unsignedIntegerValue()) : std::to_string(value.integerValue());
    case Kind::Real:
        return realText(value.doubleValue());
    case Kind::String:
        return "\"" + *value.asString() + "\"";
    default:
        return std::string("a ") + kindName(value.kind());
    }
}

// yes/no matches a stored boolean only, text a stored string only. A number
// matches a stored integer or real of exactly that value: 3 and 3.0 are the
// same setting to whoever reads it.
bool sameValue(const Value& stored, const ScenarioValue& expected)
{
    switch (expected.kind) {
    case ScenarioValue::Kind::String:
        return stored.asString() && *stored.asString() == expected.string;
    case ScenarioValue::Kind::Boolean:
        return stored.isBoolean() && stored.boolValue() == expected.boolean;
    case ScenarioValue::Kind::Integer:
        if (stored.isInteger())
            return !stored.isLargeUnsigned() && stored.integerValue() == expected.integer;
        return stored.isReal() && stored.doubleValue() == double(expected.integer);
    case ScenarioValue::Kind::Real:
        return (stored.isReal() || (stored.isInteger() && !stored.isLargeUnsigned())) && stored.doubleValue() == expected.real;
    case ScenarioValue::Kind::Nil:
        return false;
    }
    return false;
}

std::pair<std::string, std::string> splitAssignment(const std::string& word)
{
    size_t equals = word.find('=');
    return { unquote(word.substr(0, equals)), word.substr(equals + 1) };
}

std::string settingsPath(const std::string& root) { return root + Device::Paths::settingsFile; }

} // namespace

ScenarioRunner::ScenarioRunner(std::string deviceRoot, RunOptions options)
    : m_deviceRoot(std::move(deviceRoot))
    , m_options(std::move(options))
{
    if (!m_options.output) {
        m_options.output = [](const std::string& line) {
            std::fputs(line.c_str(), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
        };
    }
    m_boot.virtualClock = !m_options.realTime;
    m_origin = monotonicNanoseconds();
    m_boot.origin = m_origin;
    Platform::setDeviceRoot(m_deviceRoot);
    // What this process itself does (the pane's posts, the pages it opens) joins the timeline.
    Platform::setTimelineSink([this](std::string_view event) { printEvent(now(), std::string(event)); });
    Platform::addNotifyMonitor([this](std::string_view name) {
        std::lock_guard guard(m_lock);
        m_posted.insert(std::string(name));
    });
}

ScenarioRunner::~ScenarioRunner()
{
    shutdown();
    // Nothing may call back into a runner that is gone.
    Platform::resetNotifyForTesting();
    Platform::setTimelineSink(nullptr);
}

void ScenarioRunner::shutdown()
{
    if (m_supervisor)
        m_supervisor->shutdown();
}

int64_t ScenarioRunner::now() const
{
    return m_options.realTime ? monotonicNanoseconds() - m_origin : m_virtualNow.load();
}

void ScenarioRunner::printEvent(int64_t stamp, const std::string& text)
{
    if (text.starts_with("attempt ") || isBiometricCall(text)) {
        std::lock_guard guard(m_lock);
        (text.starts_with("attempt ") ? m_attempts : m_biometricCalls).push_back(text);
    }
    char prefix[48];
    std::snprintf(prefix, sizeof(prefix), "t=%" PRId64 ".%03" PRId64 " ", stamp / 1000000000, (stamp % 1000000000) / 1000000);
    std::lock_guard guard(m_lock);
    m_options.output(prefix + text);
}

void ScenarioRunner::discardUncheckedCalls()
{
    std::lock_guard guard(m_lock);
    m_attempts.clear();
    m_biometricCalls.clear();
}

void ScenarioRunner::say(const std::string& text) { printEvent(now(), text); }

bool ScenarioRunner::fail(const ScenarioLine& line, const std::string& expected, const std::string& got)
{
    ++m_failures;
    std::lock_guard guard(m_lock);
    m_options.output("FAIL line " + std::to_string(line.number) + ": expected " + expected + ", got " + got);
    return false;
}

bool ScenarioRunner::problem(const ScenarioLine& line, const std::string& text)
{
    ++m_failures;
    std::fprintf(stderr, "kestrel: line %d: %s\n", line.number, text.c_str());
    return false;
}

bool ScenarioRunner::run(const Scenario& scenario)
{
    bool allPassed = true;
    for (auto& line : scenario.lines)
        allPassed = runLine(line) && allPassed;
    return allPassed && !m_failures;
}

bool ScenarioRunner::runLine(const ScenarioLine& line)
{
    try {
        return execute(line);
    } catch (const std::exception& exception) {
        return problem(line, exception.what());
    }
}

bool ScenarioRunner::hostCommand(const ScenarioLine& line, const std::string& command)
{
    if (!m_supervisor || !m_supervisor->hasBooted())
        return problem(line, "the device has not booted");
    auto reply = m_supervisor->command(command);
    if (!reply.delivered)
        return problem(line, "SpringBoard is not running");
    if (!reply.ok)
        return problem(line, "SpringBoard refused the command: " + reply.text);
    return true;
}

bool ScenarioRunner::boot(const ScenarioLine& line, bool finishLaunching)
{
    m_supervisor = std::make_unique<Device::Supervisor>(
        m_deviceRoot, m_boot, [this] { return now(); }, [this](int64_t stamp, const std::string& text) { printEvent(stamp, text); });
    if (auto error = m_supervisor->boot(finishLaunching))
        return problem(line, *error);
    return true;
}

// Posts a notification; in a virtual-time run, also waits (in real time, up
// to a bound) until any restart it causes has happened or clearly will not.
void ScenarioRunner::postAndSettle(const std::string& name)
{
    uint64_t restartsBefore = m_supervisor ? m_supervisor->killRestartCount() : 0;
    Platform::postNotification(name);
    settleRestart(restartsBefore);
}

void ScenarioRunner::settleRestart(uint64_t restartsBefore)
{
    if (m_options.realTime || !m_supervisor || !m_supervisor->isRunning())
        return;
    uint64_t childrenBefore = m_supervisor->childrenExited();
    auto reply = m_supervisor->command("drain-notify");
    uint64_t spawned = 0;
    if (reply.delivered && reply.text.starts_with("spawned="))
        spawned = std::strtoull(reply.text.c_str() + 8, nullptr, 10);
    if (reply.delivered && !spawned)
        return;
    // A killall is under way (or SpringBoard already died): wait for the new
    // SpringBoard, or for every killall to end with this one still alive.
    m_supervisor->waitFor([&] {
        if (m_supervisor->killRestartCount() > restartsBefore)
            return true;
        return reply.delivered && m_supervisor->isRunning() && m_supervisor->childrenExited() >= childrenBefore + spawned;
    }, respringWaitMilliseconds);
    if (m_supervisor->killRestartCount() == restartsBefore) {
        // Give a kill that was just sent the moment it takes to land.
        m_supervisor->waitFor([&] { return m_supervisor->killRestartCount() > restartsBefore; }, 100);
    }
}

bool ScenarioRunner::wait(const ScenarioLine& line)
{
    double seconds = *parseReal(line.words[1]);
    int64_t nanoseconds = int64_t(std::llround(seconds * 1e9));
    if (m_options.realTime) {
        std::this_thread::sleep_for(std::chrono::nanoseconds(nanoseconds));
        return true;
    }
    int64_t target = m_virtualNow.load() + nanoseconds;
    bool ok = true;
    if (m_supervisor && m_supervisor->isRunning()) {
        auto reply = m_supervisor->command("advance " + std::to_string(nanoseconds));
        ok = reply.delivered || problem(line, "SpringBoard is not running");
    }
    m_virtualNow = target;
    return ok;
}

bool ScenarioRunner::applySettings(const ScenarioLine& line)
{
    std::string path = settingsPath(m_deviceRoot);
    const auto& action = line.words[1];
    if (action == "delete") {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            return problem(line, "cannot delete the settings file");
        return true;
    }
    if (action == "corrupt") {
        if (!replaceFileAtomically(path, "this is not a property list \x01\x02\xff\n"))
            return problem(line, "cannot write the settings file");
        return true;
    }
    auto file = readFile(path);
    Dictionary settings;
    if (file.ok() && file.value.asDictionary())
        settings = *file.value.asDictionary();
    if (action == "remove") {
        for (size_t i = 2; i < line.words.size(); ++i)
            settings.remove(unquote(line.words[i]));
    } else {
        for (size_t i = 1; i < line.words.size(); ++i) {
            auto [key, text] = splitAssignment(line.words[i]);
            std::string error;
            auto value = toPlistValue(parseValue(text, error).value());
            if (value)
                settings.set(key, *value);
            else
                settings.remove(key);
        }
    }
    if (!writeFileAtomically(path, Value(std::move(settings))))
        return problem(line, "cannot write the settings file");
    return true;
}

bool ScenarioRunner::checkSetting(const ScenarioLine& line)
{
    auto file = readFile(settingsPath(m_deviceRoot));
    const Dictionary* settings = file.ok() ? file.value.asDictionary() : nullptr;
    bool absentCheck = line.words.size() == 4;
    std::string key = absentCheck ? unquote(line.words[2]) : splitAssignment(line.words[2]).first;
    const Value* stored = settings ? settings->find(key) : nullptr;
    std::string got = stored ? key + "=" + describePlistValue(*stored)
        : file.isMissing()   ? key + " absent (no settings file)"
        : !settings          ? key + " absent (the settings file is unreadable: " + file.reason + ")"
                             : key + " absent";
    if (absentCheck)
        return stored ? fail(line, key + " absent", got) : true;
    std::string error;
    auto expected = parseValue(splitAssignment(line.words[2]).second, error).value();
    if (expected.kind == ScenarioValue::Kind::Nil)
        return stored ? fail(line, key + " absent", got) : true;
    if (!stored || !sameValue(*stored, expected))
        return fail(line, key + "=" + expected.describe(), got);
    return true;
}

bool ScenarioRunner::checkAttempt(const ScenarioLine& line)
{
    std::string passcode, mesa, finish, result;
    for (size_t i = 2; i < line.words.size(); ++i) {
        auto [name, value] = splitAssignment(line.words[i]);
        if (name == "passcode")
            passcode = value == "nil" ? "nil" : Device::displayWord(unquote(value));
        else if (name == "mesa")
            mesa = value;
        else if (name == "finish")
            finish = value;
        else if (name == "result")
            result = value;
    }
    std::string expected = "attempt passcode=" + passcode + " mesa=" + mesa + " finish=" + finish;
    if (!result.empty())
        expected += " result=" + result;
    std::optional<std::string> actual;
    {
        std::lock_guard guard(m_lock);
        if (!m_attempts.empty()) {
            actual = m_attempts.front();
            m_attempts.pop_front();
        }
    }
    if (!actual)
        return fail(line, expected, "no attempt");
    std::string compared = result.empty() ? actual->substr(0, actual->rfind(" result=")) : *actual;
    if (compared != expected)
        return fail(line, expected, *actual);
    return true;
}

bool ScenarioRunner::execute(const ScenarioLine& line)
{
    const auto& words = line.words;
    const auto& command = words[0];

    if (command == "ios") {
        m_boot.iosVersion = words[1];
        return true;
    }
    if (command == "cf") {
        m_boot.coreFoundationVersion = *parseReal(words[1]);
        return true;
    }
    if (command == "notifications-route") {
        m_boot.notificationRoute = words[1];
        return true;
    }
    if (command == "process") {
        m_boot.processName = unquote(words[1]);
        return true;
    }
    if (command == "companion") {
        if (auto error = Device::setCompanionInstalled(m_deviceRoot, words[1] == "installed", Device::Artifacts::nextToExecutable()))
            return problem(line, *error);
        return true;
    }
    if (command == "settings")
        return applySettings(line);
    if (command == "boot")
        return boot(line, words.size() == 1);
    if (command == "finish-launching" || command == "lock" || command == "touch")
        return hostCommand(line, command);
    if (command == "host" || command == "aod" || command == "audio" || command == "flashlight")
        return hostCommand(line, command + " " + words[1] + (words.size() > 2 ? " " + words[2] : ""));
    if (command == "quick-actions")
        return hostCommand(line, "quick-actions appear");
    if (command == "face")
        return hostCommand(line, "face " + words[1] + (words.size() > 2 ? " " + words[2] : ""));
    if (command == "notification") {
        if (words[1] != "add")
            return hostCommand(line, "notification " + words[1]);
        // A bare word is the identifier as written; nil is a request without one.
        std::optional<std::string> section;
        if (words[2] != "nil")
            section = unquote(words[2]);
        return hostCommand(line, "notification add " + Device::encodeWord(section));
    }
    if (command == "attempt") {
        std::optional<std::string> passcode;
        bool mesa = false, finish = false;
        for (size_t i = 1; i < words.size(); ++i) {
            auto [name, value] = splitAssignment(words[i]);
            if (name == "passcode" && value != "nil")
                passcode = unquote(value);
            else if (name == "mesa")
                mesa = value == "yes";
            else if (name == "finish")
                finish = value == "yes";
        }
        return hostCommand(line, "attempt " + Device::encodeWord(passcode) + (mesa ? " 1" : " 0") + (finish ? " 1" : " 0"));
    }
    if (command == "respring") {
        // What the pane's restart button does.
        postAndSettle(respringName);
        return true;
    }
    if (command == "post") {
        postAndSettle(unquote(words[1]));
        return true;
    }
    if (command == "pane")
        return pane(line);
    if (command == "wait")
        return wait(line);
    if (command == "state") {
        std::string text = "state";
        if (m_supervisor && m_supervisor->isRunning()) {
            auto reply = m_supervisor->command("state");
            text += " " + reply.text + " generation=" + std::to_string(m_supervisor->generation());
        } else
            text += m_supervisor && m_supervisor->hasBooted() ? " springboard=not-running" : " springboard=not-booted";
        say(text);
        return true;
    }
    if (command != "expect")
        return problem(line, "unknown command " + command);

    const auto& what = words[1];
    if (what == "lockscreen" || what == "device") {
        if (!m_supervisor || !m_supervisor->isRunning())
            return fail(line, what + " " + words[2], "no running SpringBoard");
        auto reply = m_supervisor->command("query " + what);
        if (!reply.delivered)
            return fail(line, what + " " + words[2], "no running SpringBoard");
        return reply.text == words[2] ? true : fail(line, what + " " + words[2], what + " " + reply.text);
    }
    if (what == "attempt")
        return checkAttempt(line);
    if (what == "no-attempt" || what == "no-biometric") {
        std::optional<std::string> leftover;
        {
            std::lock_guard guard(m_lock);
            auto& queue = what == "no-attempt" ? m_attempts : m_biometricCalls;
            if (!queue.empty())
                leftover = queue.front();
            queue.clear();
        }
        return leftover ? fail(line, what == "no-attempt" ? "no attempt" : "no biometric call", *leftover) : true;
    }
    if (what == "biometric") {
        std::optional<std::string> actual;
        {
            std::lock_guard guard(m_lock);
            if (!m_biometricCalls.empty()) {
                actual = m_biometricCalls.front();
                m_biometricCalls.pop_front();
            }
        }
        std::string expected = "biometric " + words[2];
        if (!actual)
            return fail(line, expected, "no biometric call");
        return *actual == expected ? true : fail(line, expected, *actual);
    }
    if (what == "respring" || what == "no-respring") {
        if (!m_supervisor)
            return what == "respring" ? fail(line, "a restart", "a device that never booted") : true;
        if (what == "respring")
            m_supervisor->waitFor([&] { return m_supervisor->killRestartCount() > m_checkedKillRestarts; }, respringWaitMilliseconds);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(noRespringSettleMilliseconds));
        uint64_t restarts = m_supervisor->killRestartCount();
        uint64_t since = restarts - m_checkedKillRestarts;
        m_checkedKillRestarts = restarts;
        if (what == "respring" && !since)
            return fail(line, "SpringBoard killed by killall and started again", "no restart");
        if (what == "no-respring" && since)
            return fail(line, "no restart", std::to_string(since) + " restart" + (since > 1 ? "s" : ""));
        return true;
    }
    if (what == "log" || what == "no-log") {
        std::string text = unquote(words[2]);
        bool found = false;
        for (auto& logLine : Platform::readSystemLog())
            found = found || logLine.find(text) != std::string::npos;
        if (what == "log" && !found)
            return fail(line, "a log line containing \"" + text + "\"", "none");
        if (what == "no-log" && found)
            return fail(line, "no log line containing \"" + text + "\"", "one");
        return true;
    }
    if (what == "posted") {
        Platform::drainNotifyDeliveries();
        std::string name = unquote(words[2]);
        std::multiset<std::string> posted;
        {
            std::lock_guard guard(m_lock);
            posted.swap(m_posted);
        }
        if (!posted.count(name)) {
            std::string got = posted.empty() ? "nothing posted" : "only";
            for (auto& other : std::set<std::string>(posted.begin(), posted.end()))
                got += " " + other;
            return fail(line, name + " posted", got);
        }
        return true;
    }
    if (what == "setting")
        return checkSetting(line);
    return problem(line, "unknown check " + what);
}

bool ScenarioRunner::pane(const ScenarioLine& line)
{
    std::optional<std::string> error;
    uint64_t restartsBefore = m_supervisor ? m_supervisor->killRestartCount() : 0;
    if (line.words[1] == "set") {
        std::string problemText;
        auto value = parseValue(line.words[3], problemText).value();
        error = paneSet(m_deviceRoot, unquote(line.words[2]), value);
    } else
        error = paneTap(m_deviceRoot, unquote(line.words[2]));
    // A restart the pane asked for settles as one asked for by `respring`.
    if (!error && line.words[1] == "tap" && unquote(line.words[2]) == "respring")
        settleRestart(restartsBefore);
    if (error)
        return problem(line, *error);
    return true;
}

} // namespace Kestrel
