// The scenario's checks (`expect ...`), kept apart from the commands that drive the
// device. Subscribed to a session, they queue the typed events they compare (the
// host's unlock attempts, the biometric calls, the engine's decisions) and look at the device, the settings
// file, the system log and the restarts when a check runs.
#pragma once

#include "platform/Expected.h"
#include "tools/kestrel/scenario/DeviceSession.h"

#include <deque>
#include <mutex>
#include <optional>
#include <string>

namespace Kestrel {

struct CheckFailure {
    std::string expected;
    std::string got;
    // "FAIL line N: expected ..., got ...": how a run reports it.
    std::string line(int number) const;
};

class ScenarioChecks {
public:
    explicit ScenarioChecks(DeviceSession&);
    ~ScenarioChecks();
    ScenarioChecks(const ScenarioChecks&) = delete;
    ScenarioChecks& operator=(const ScenarioChecks&) = delete;

    // Runs one check command: nullopt when it holds, what was expected and what was found when
    // it does not, or why it could not be checked (the device's database could not be read).
    Platform::Expected<std::optional<CheckFailure>> check(const Command&);

    // Forgets the attempts, biometric calls and decisions no check has looked at yet.
    void discardUnchecked();

private:
    struct Checker;
    std::optional<CheckFailure> checkSetting(const ExpectSetting&);
    std::optional<CheckFailure> checkRespring(bool expected);
    std::optional<CheckFailure> checkState(const Driver::Fact&, bool Driver::DeviceState::*reading, bool expected);
    // The oldest call no check has looked at yet, taken off its queue.
    template <typename Call> std::optional<Call> takeFirst(std::deque<Call>&);
    template <typename Call> std::optional<CheckFailure> noneLeft(std::deque<Call>&, const char* expected);

    DeviceSession& m_session;
    int m_subscription { 0 };
    std::mutex m_lock;
    std::deque<Driver::AttemptCall> m_attempts;
    std::deque<Driver::BiometricCall> m_biometricCalls;
    std::deque<Driver::Decision> m_decisions;
    uint64_t m_checkedKillRestarts { 0 };
};

} // namespace Kestrel
