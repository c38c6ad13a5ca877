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

std::string describeStored(const Value& value)
{
    switch (value.kind()) {
    case Kind::Boolean:
        return value.boolValue() ? "yes" : "no";
    case Kind::Integer:
        return value.isLargeUnsigned() ? std::to_string(value.unsignedIntegerValue()) : std::to_string(value.integerValue());
    case Kind::Real:
        return Device::realText(value.doubleValue());
    case Kind::String:
        return Device::quotedWord(*value.asString());
    default:
        return std::string("a ") + kindName(value.kind());
    }
}

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
        return (stored.isReal() || (stored.isInteger() && !stored.isLargeUnsigned())) && stored.doubleValue() == expected.doubleValue();
    return false;
}

std::string describeAttempt(const ExpectAttempt& expected)
{
    auto yesNo = [](bool value) { return value ? "yes" : "no"; };
    std::string text = "attempt passcode=" + Device::displayWord(expected.passcode) + " mesa=" + yesNo(expected.mesa)
        + " finish=" + yesNo(expected.finish);
    if (expected.result)
        text += std::string(" result=") + yesNo(*expected.result);
    return text;
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

std::optional<CheckFailure> ScenarioChecks::check(const Command& command)
{
    using Failure = std::optional<CheckFailure>;
    if (auto* expected = std::get_if<ExpectLockscreen>(&command)) {
        return checkState(
            "lockscreen ", [](const Driver::DeviceState& device) { return device.lockscreenShown ? "shown" : "dismissed"; },
            expected->shown ? "shown" : "dismissed");
    }
    if (auto* expected = std::get_if<ExpectDevice>(&command)) {
        return checkState(
            "device ", [](const Driver::DeviceState& device) { return device.deviceLocked ? "locked" : "unlocked"; },
            expected->locked ? "locked" : "unlocked");
    }
    if (auto* expected = std::get_if<ExpectAttempt>(&command)) {
        auto actual = takeFirst(m_attempts);
        if (!actual)
            return CheckFailure { describeAttempt(*expected), "no attempt" };
        bool same = actual->passcode == expected->passcode && actual->mesa == expected->mesa && actual->finish == expected->finish
            && (!expected->result || actual->result == *expected->result);
        return same ? Failure() : CheckFailure { describeAttempt(*expected), Driver::timelineText(*actual) };
    }
    if (std::holds_alternative<ExpectNoAttempt>(command) || std::holds_alternative<ExpectNoBiometric>(command)) {
        bool attempts = std::holds_alternative<ExpectNoAttempt>(command);
        std::optional<Driver::Event> leftover;
        {
            std::lock_guard guard(m_lock);
            if (attempts && !m_attempts.empty())
                leftover = m_attempts.front();
            if (!attempts && !m_biometricCalls.empty())
                leftover = m_biometricCalls.front();
            attempts ? m_attempts.clear() : m_biometricCalls.clear();
        }
        if (leftover)
            return CheckFailure { attempts ? "no attempt" : "no biometric call", Driver::timelineText(*leftover) };
        return std::nullopt;
    }
    if (auto* expected = std::get_if<ExpectBiometric>(&command)) {
        auto actual = takeFirst(m_biometricCalls);
        Driver::Event wanted = Driver::BiometricCall { expected->kind };
        if (!actual)
            return CheckFailure { Driver::timelineText(wanted), "no biometric call" };
        if (actual->kind != expected->kind)
            return CheckFailure { Driver::timelineText(wanted), Driver::timelineText(*actual) };
        return std::nullopt;
    }
    if (auto* expected = std::get_if<ExpectDecision>(&command)) {
        auto actual = takeFirst(m_decisions);
        std::string wanted = std::string("decision outcome=") + Driver::name(expected->outcome);
        if (expected->reason)
            wanted += std::string(" reason=") + Driver::name(*expected->reason);
        if (!actual)
            return CheckFailure { wanted, "no decision" };
        if (actual->outcome != expected->outcome || (expected->reason && actual->reason != *expected->reason))
            return CheckFailure { wanted, Driver::timelineText(*actual) };
        return std::nullopt;
    }
    if (std::holds_alternative<ExpectRespring>(command) || std::holds_alternative<ExpectNoRespring>(command))
        return checkRespring(std::holds_alternative<ExpectRespring>(command));
    if (auto* expected = std::get_if<ExpectLog>(&command)) {
        bool found = false;
        for (auto& logLine : Platform::readSystemLog())
            found = found || logLine.find(expected->text) != std::string::npos;
        if (expected->present && !found)
            return CheckFailure { "a log line containing \"" + expected->text + "\"", "none" };
        if (!expected->present && found)
            return CheckFailure { "no log line containing \"" + expected->text + "\"", "one" };
        return std::nullopt;
    }
    if (auto* expected = std::get_if<ExpectPosted>(&command)) {
        auto posted = m_session.takePosted();
        if (posted.count(expected->name))
            return std::nullopt;
        std::string got = posted.empty() ? "nothing posted" : "only";
        for (auto& other : std::set<std::string>(posted.begin(), posted.end()))
            got += " " + other;
        return CheckFailure { expected->name + " posted", got };
    }
    if (auto* expected = std::get_if<ExpectPackage>(&command)) {
        auto read = Device::PackageManager(m_session.root()).installedVersion(Device::PackageNames::kestrel);
        if (!read)
            throw std::runtime_error(read.error());
        auto& installed = *read;
        auto describe = [](const std::optional<std::string>& version) {
            return version ? "package installed " + *version : std::string("package absent");
        };
        if (installed != expected->version)
            return CheckFailure { describe(expected->version), describe(installed) };
        return std::nullopt;
    }
    if (auto* expected = std::get_if<ExpectSetting>(&command))
        return checkSetting(*expected);
    return CheckFailure { "a check", "a command that is not one" };
}

template<typename Call> std::optional<Call> ScenarioChecks::takeFirst(std::deque<Call>& calls)
{
    std::lock_guard guard(m_lock);
    if (calls.empty())
        return std::nullopt;
    Call first = std::move(calls.front());
    calls.pop_front();
    return first;
}

// A fact of the device as SpringBoard has it now, "lockscreen shown" say, against the one expected.
std::optional<CheckFailure> ScenarioChecks::checkState(
    const std::string& fact, const std::function<const char*(const Driver::DeviceState&)>& reading, const char* expected)
{
    auto state = m_session.isRunning() ? m_session.state() : SessionState {};
    if (!state.device)
        return CheckFailure { fact + expected, "no running SpringBoard" };
    std::string actual = reading(*state.device);
    if (actual != expected)
        return CheckFailure { fact + expected, fact + actual };
    return std::nullopt;
}

std::optional<CheckFailure> ScenarioChecks::checkRespring(bool expected)
{
    if (!m_session.bootStarted())
        return expected ? std::optional(CheckFailure { "a restart", "a device that never booted" }) : std::nullopt;
    if (expected)
        m_session.waitFor([&] { return m_session.killRestartCount() > m_checkedKillRestarts; }, respringWaitMilliseconds);
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
    std::string got = stored ? key + "=" + describeStored(*stored)
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
