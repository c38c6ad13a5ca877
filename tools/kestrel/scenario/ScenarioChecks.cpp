#include "tools/kestrel/scenario/ScenarioChecks.h"

#include "host/device/DeviceLayout.h"
#include "host/device/PackageManager.h"
#include "host/device/Words.h"
#include "platform/log/SystemLog.h"
#include "platform/plist/PropertyList.h"
#include "tools/kestrel/scenario/CommandParser.h"

#include <chrono>
#include <set>
#include <thread>

namespace Kestrel {

namespace {

using namespace Platform::Plist;

constexpr int64_t respringWaitMilliseconds = 5000;
constexpr int64_t noRespringSettleMilliseconds = 500;

// yes/no matches a stored boolean only, text a stored string only. A number
// matches a stored integer or real of exactly that value: 3 and 3.0 are the
// same setting to whoever reads it.
bool sameValue(const Value& stored, const Value& expected)
{
    if (auto text = expected.asString())
        return stored.asString() && *stored.asString() == *text;
    if (expected.isBoolean())
        return stored.isBoolean() && stored.boolValue() == expected.boolValue();
    if (expected.isInteger()) {
        if (stored.isInteger())
            return !stored.isLargeUnsigned() && stored.integerValue() == expected.integerValue();
        return stored.isReal() && stored.doubleValue() == double(expected.integerValue());
    }
    if (expected.isReal())
        return (stored.isReal() || (stored.isInteger() && !stored.isLargeUnsigned()))
            && stored.doubleValue() == expected.doubleValue();
    return false;
}

} // namespace

std::string CheckFailure::line(int number) const
{
    return "FAIL line " + std::to_string(number) + ": expected " + expected + ", got " + got;
}

ScenarioChecks::ScenarioChecks(DeviceSession& session)
    : m_session(session)
{
    m_subscription = m_session.subscribe([this](const SessionEvent& event) {
        std::lock_guard guard(m_lock);
        if (auto* attempt = std::get_if<Driver::AttemptCall>(&event.event))
            m_attempts.push_back(*attempt);
        else if (auto* call = std::get_if<Driver::BiometricCall>(&event.event))
            m_biometricCalls.push_back(*call);
        else if (auto* decision = std::get_if<Driver::Decision>(&event.event))
            m_decisions.push_back(*decision);
    });
}

ScenarioChecks::~ScenarioChecks() { m_session.unsubscribe(m_subscription); }

void ScenarioChecks::discardUnchecked()
{
    std::lock_guard guard(m_lock);
    m_attempts.clear();
    m_biometricCalls.clear();
    m_decisions.clear();
}

// Each check, run. A check without its own overload does not compile: the template for
// checks is deleted, and the one for the other commands answers that they are not checks.
struct ScenarioChecks::Checker {
    using Verdict = Platform::Expected<std::optional<CheckFailure>>;
    ScenarioChecks& checks;

    template <typename T>
    requires isCheck<T> Verdict operator()(const T&) const = delete;
    template <typename T>
    requires(!isCheck<T>) Verdict operator()(const T&) const
    {
        return CheckFailure { "a check", "a command that is not one" };
    }

    Verdict operator()(const ExpectLockscreen& expected) const
    {
        return checks.checkState(Driver::Facts::lockscreen, &Driver::DeviceState::lockscreenShown, expected.shown);
    }
    Verdict operator()(const ExpectDevice& expected) const
    {
        return checks.checkState(Driver::Facts::device, &Driver::DeviceState::deviceLocked, expected.locked);
    }
    Verdict operator()(const ExpectAttempt& expected) const
    {
        std::string wanted = Driver::attemptText(expected.passcode, expected.mesa, expected.finish, expected.result);
        auto actual = checks.takeFirst(checks.m_attempts);
        if (!actual)
            return CheckFailure { wanted, "no attempt" };
        bool same = actual->passcode == expected.passcode && actual->mesa == expected.mesa
            && actual->finish == expected.finish && (!expected.result || actual->result == *expected.result);
        return same ? std::optional<CheckFailure>() : CheckFailure { wanted, Driver::timelineText(*actual) };
    }
    Verdict operator()(const ExpectNoAttempt&) const { return checks.noneLeft(checks.m_attempts, "no attempt"); }
    Verdict operator()(const ExpectBiometric& expected) const
    {
        auto wanted = Driver::timelineText(Driver::BiometricCall { expected.kind });
        auto actual = checks.takeFirst(checks.m_biometricCalls);
        if (!actual)
            return CheckFailure { wanted, "no biometric call" };
        if (actual->kind != expected.kind)
            return CheckFailure { wanted, Driver::timelineText(*actual) };
        return std::nullopt;
    }
    Verdict operator()(const ExpectNoBiometric&) const
    {
        return checks.noneLeft(checks.m_biometricCalls, "no biometric call");
    }
    Verdict operator()(const ExpectDecision& expected) const
    {
        auto wanted = Driver::decisionText(expected.outcome, expected.reason);
        auto actual = checks.takeFirst(checks.m_decisions);
        if (!actual)
            return CheckFailure { wanted, "no decision" };
        if (actual->outcome != expected.outcome || (expected.reason && actual->reason != *expected.reason))
            return CheckFailure { wanted, Driver::timelineText(*actual) };
        return std::nullopt;
    }
    Verdict operator()(const ExpectRespring&) const { return checks.checkRespring(true); }
    Verdict operator()(const ExpectNoRespring&) const { return checks.checkRespring(false); }
    Verdict operator()(const ExpectLog& expected) const
    {
        bool found = false;
        for (auto& logLine : Platform::readSystemLog())
            found = found || logLine.find(expected.text) != std::string::npos;
        if (expected.present && !found)
            return CheckFailure { "a log line containing \"" + expected.text + "\"", "none" };
        if (!expected.present && found)
            return CheckFailure { "no log line containing \"" + expected.text + "\"", "one" };
        return std::nullopt;
    }
    Verdict operator()(const ExpectPosted& expected) const
    {
        auto posted = checks.m_session.takePosted();
        if (posted.count(expected.name))
            return std::nullopt;
        std::string got = posted.empty() ? "nothing posted" : "only";
        for (auto& other : std::set<std::string>(posted.begin(), posted.end()))
            got += " " + other;
        return CheckFailure { expected.name + " posted", got };
    }
    Verdict operator()(const ExpectPackage& expected) const
    {
        auto read = Device::PackageManager(checks.m_session.root()).installedVersion(Device::PackageNames::kestrel);
        if (!read)
            return read.failure();
        auto& installed = *read;
        auto describe = [](const std::optional<std::string>& version) {
            return version ? "package installed " + *version : std::string("package absent");
        };
        if (installed != expected.version)
            return CheckFailure { describe(expected.version), describe(installed) };
        return std::nullopt;
    }
    Verdict operator()(const ExpectSetting& expected) const { return checks.checkSetting(expected); }
};

Platform::Expected<std::optional<CheckFailure>> ScenarioChecks::check(const Command& command)
{
    return std::visit(Checker { *this }, command);
}

template <typename Call> std::optional<Call> ScenarioChecks::takeFirst(std::deque<Call>& calls)
{
    std::lock_guard guard(m_lock);
    if (calls.empty())
        return std::nullopt;
    Call first = std::move(calls.front());
    calls.pop_front();
    return first;
}

// No call of that kind is left unchecked; the ones that were are forgotten.
template <typename Call>
std::optional<CheckFailure> ScenarioChecks::noneLeft(std::deque<Call>& calls, const char* expected)
{
    std::optional<Driver::Event> leftover;
    {
        std::lock_guard guard(m_lock);
        if (!calls.empty())
            leftover = calls.front();
        calls.clear();
    }
    if (leftover)
        return CheckFailure { expected, Driver::timelineText(*leftover) };
    return std::nullopt;
}

// A fact of the device as SpringBoard has it now, "lockscreen shown" say, against the one expected.
std::optional<CheckFailure> ScenarioChecks::checkState(
    const Driver::Fact& fact, bool Driver::DeviceState::*reading, bool expected)
{
    auto state = m_session.isRunning() ? m_session.state() : SessionState {};
    if (!state.device)
        return CheckFailure { fact.line(expected), "no running SpringBoard" };
    bool actual = (*state.device).*reading;
    if (actual != expected)
        return CheckFailure { fact.line(expected), fact.line(actual) };
    return std::nullopt;
}

std::optional<CheckFailure> ScenarioChecks::checkRespring(bool expected)
{
    if (!m_session.bootStarted())
        return expected ? std::optional(CheckFailure { "a restart", "a device that never booted" }) : std::nullopt;
    if (expected)
        m_session.waitFor(
            [&] { return m_session.killRestartCount() > m_checkedKillRestarts; }, respringWaitMilliseconds);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(noRespringSettleMilliseconds));
    uint64_t restarts = m_session.killRestartCount();
    uint64_t since = restarts - m_checkedKillRestarts;
    m_checkedKillRestarts = restarts;
    if (expected && !since)
        return CheckFailure { "SpringBoard killed by killall and started again", "no restart" };
    if (!expected && since)
        return CheckFailure { "no restart", std::to_string(since) + " restart" + (since > 1 ? "s" : "") };
    return std::nullopt;
}

std::optional<CheckFailure> ScenarioChecks::checkSetting(const ExpectSetting& expected)
{
    auto file = readFile(m_session.root() + Device::Paths::settingsFile);
    const Dictionary* settings = file.ok() ? file.value.asDictionary() : nullptr;
    const auto& key = expected.key;
    const Value* stored = settings ? settings->find(key) : nullptr;
    std::string got = stored ? key + "=" + describeValue(*stored)
        : file.isMissing()   ? key + " absent (no settings file)"
        : !settings          ? key + " absent (the settings file is unreadable: " + file.reason + ")"
                             : key + " absent";
    if (!expected.value)
        return stored ? std::optional(CheckFailure { key + " absent", got }) : std::nullopt;
    if (!stored || !sameValue(*stored, *expected.value))
        return CheckFailure { key + "=" + describeValue(expected.value), got };
    return std::nullopt;
}

} // namespace Kestrel
