#include "tools/kestrel/scenario/ScenarioRun.h"

#include "host/device/Words.h"

#include <cstdio>

namespace Kestrel {

ScenarioRun::ScenarioRun(DeviceSession& session, Output output)
    : m_session(session)
    , m_checks(session)
    , m_output(std::move(output))
{
    if (!m_output) {
        m_output = [](const std::string& line, LineKind) {
            std::fputs(line.c_str(), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
        };
    }
    m_subscription
        = m_session.subscribe([this](const SessionEvent& event) { print(timelineLine(event), LineKind::Timeline); });
}

ScenarioRun::~ScenarioRun() { m_session.unsubscribe(m_subscription); }

void ScenarioRun::print(const std::string& line, LineKind kind)
{
    std::lock_guard guard(m_outputLock);
    m_output(line, kind);
}

bool ScenarioRun::runLine(const ScenarioLine& line)
{
    std::string problem;
    if (isCheckCommand(line.command)) {
        try {
            auto verdict = m_checks.check(line.command);
            if (verdict && !*verdict)
                return true;
            if (verdict) {
                ++m_failures;
                print((*verdict)->line(line.number), LineKind::Failure);
                return false;
            }
            problem = verdict.error();
        } catch (const std::exception& exception) {
            problem = exception.what();
        }
    } else {
        auto result = m_session.run(line.command);
        if (result.outcome.ok())
            return true;
        problem = result.outcome.error();
    }
    ++m_failures;
    std::fprintf(stderr, "kestrel: line %d: %s\n", line.number, Device::printable(problem).c_str());
    return false;
}

bool ScenarioRun::run(const Scenario& scenario)
{
    bool allPassed = true;
    for (auto& line : scenario.lines)
        allPassed = runLine(line) && allPassed;
    return allPassed;
}

} // namespace Kestrel
