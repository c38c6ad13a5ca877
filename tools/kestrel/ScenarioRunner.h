// Runs scenarios against a device: sets the device up, boots SpringBoard
// under a supervisor, drives it, prints the timeline and checks expectations.
#pragma once

#include "host/device/Supervisor.h"
#include "tools/kestrel/Scenario.h"

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace Kestrel {

struct RunOptions {
    bool realTime { false };
    // Each timeline line goes here (stdout by default).
    std::function<void(const std::string&)> output;
};

class ScenarioRunner {
public:
    ScenarioRunner(std::string deviceRoot, RunOptions);
    ~ScenarioRunner();

    // Runs every line in order; false if a check failed or a command could not run.
    bool run(const Scenario&);
    // Runs one line (checked already); false if it failed.
    bool runLine(const ScenarioLine&);
    void shutdown();

    int failures() const { return m_failures; }
    // The current scenario time, in nanoseconds.
    int64_t now() const;
    // Forgets the attempts and biometric calls no check has looked at yet.
    void discardUncheckedCalls();
    // Prints one timeline line at the current time.
    void say(const std::string& text);

private:
    bool execute(const ScenarioLine&);
    bool hostCommand(const ScenarioLine&, const std::string& command);
    bool fail(const ScenarioLine&, const std::string& expected, const std::string& got);
    bool problem(const ScenarioLine&, const std::string& text);
    void printEvent(int64_t stamp, const std::string& text);
    bool boot(const ScenarioLine&, bool finishLaunching);
    void postAndSettle(const std::string& name);
    void settleRestart(uint64_t restartsBefore);
    bool checkAttempt(const ScenarioLine&);
    bool checkSetting(const ScenarioLine&);
    bool applySettings(const ScenarioLine&);
    bool wait(const ScenarioLine&);
    bool pane(const ScenarioLine&);

    std::string m_deviceRoot;
    RunOptions m_options;
    Device::BootConfiguration m_boot;
    std::unique_ptr<Device::Supervisor> m_supervisor;
    std::atomic<int64_t> m_virtualNow { 0 };
    int64_t m_origin { 0 };
    int m_failures { 0 };

    std::mutex m_lock;
    std::deque<std::string> m_attempts;
    std::deque<std::string> m_biometricCalls;
    std::multiset<std::string> m_posted;
    uint64_t m_checkedKillRestarts { 0 };
};

} // namespace Kestrel
