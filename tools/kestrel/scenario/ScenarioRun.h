// A scenario run: lines handed to a session (commands) or to its checks (expect),
// with the timeline and every failed check printed through one output, in order.
// `kestrel run`, `kestrel boot` and the demo are each a session plus one of these.
#pragma once

#include "tools/kestrel/scenario/CommandParser.h"
#include "tools/kestrel/scenario/DeviceSession.h"
#include "tools/kestrel/scenario/ScenarioChecks.h"

#include <functional>
#include <mutex>
#include <string>

namespace Kestrel {

class ScenarioRun {
public:
    // Each timeline line and each FAIL line goes to output (standard output by default).
    // A command that cannot run is reported on standard error as "kestrel: line N: WHY".
    enum class LineKind { Timeline, Failure };
    using Output = std::function<void(const std::string&, LineKind)>;
    explicit ScenarioRun(DeviceSession&, Output = {});
    ~ScenarioRun();
    ScenarioRun(const ScenarioRun&) = delete;
    ScenarioRun& operator=(const ScenarioRun&) = delete;

    // False if the check failed or the command could not run.
    bool runLine(const ScenarioLine&);
    // Every line in order; false if any failed.
    bool run(const Scenario&);

    int failures() const { return m_failures; }
    ScenarioChecks& checks() { return m_checks; }

private:
    void print(const std::string&, LineKind);

    DeviceSession& m_session;
    ScenarioChecks m_checks;
    Output m_output;
    std::mutex m_outputLock;
    int m_subscription { 0 };
    int m_failures { 0 };
};

} // namespace Kestrel
