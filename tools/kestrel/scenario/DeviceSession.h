// A device session: one booted device and everything that drives it, for as long as
// the process runs it. It holds the device (one SpringBoard per device), keeps the
// boot configuration, the phase, the supervisor, the clock and the commands accepted
// so far; it runs one typed command at a time and publishes the device's timeline.
// `kestrel run`, `boot`, `demo` and `serve` are thin drivers of a session.
//
// The rule drivers rely on: every event a command causes reaches the listeners (and
// the command's result) before run() returns. Events may also arrive between commands:
// a restart, a delayed unlock in real time, a post from another process.
#pragma once

#include "host/device/DeviceHold.h"
#include "host/device/DeviceScheme.h"
#include "host/device/DriverProtocol.h"
#include "host/device/PackageManager.h"
#include "host/device/Supervisor.h"
#include "host/settings/SettingsPane.h"
#include "tools/kestrel/scenario/Command.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace Kestrel {

struct SessionEvent {
    int64_t stamp { 0 }; // nanoseconds of scenario time
    Driver::Event event;
    uint64_t sequence { 0 }; // 1, 2, 3...: the order in which the session published it
};

// "t=1.500 attempt passcode=nil ...": an event as the timeline prints it.
std::string timelineLine(const SessionEvent&);

// What a command did: whether it ran (or why not, in one line), and what happened while it ran.
struct CommandResult {
    Platform::Expected<void> outcome;
    std::vector<SessionEvent> events;
};

struct SessionState {
    enum class SpringBoard { NotBooted, NotRunning, Running };
    SpringBoard springBoard { SpringBoard::NotBooted };
    std::optional<Driver::DeviceState> device; // while SpringBoard runs
    int generation { 0 };
};
// "state device=locked lockscreen=shown ...": the state as the `state` command prints it.
std::string describeState(const SessionState&);

struct SessionOptions {
    bool realTime { false };
};

class DeviceSession {
public:
    // Takes the device at root (an existing device, its real path) for this process, or says
    // in one line why not (another process holds it).
    static Platform::Expected<std::unique_ptr<DeviceSession>> open(const std::string& root, SessionOptions);
    // Whether a session on the device at root may run the command whatever comes before it:
    // why not (an iOS profile its jailbreak does not run), in one line.
    static Platform::Expected<void> admits(const std::string& root, const Command&);
    ~DeviceSession();
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // Runs one command that is not a check. Safe from any thread; commands run one at a time.
    // A command that ran is kept, stamped, with the text it was written as (when given).
    CommandResult run(const Command&, std::string_view text = {});

    struct AcceptedCommand {
        int64_t stamp { 0 }; // scenario time when it started
        int64_t finished { 0 }; // scenario time when it returned
        std::string text;
        Command command;
        // The sequence numbers of the events published while it ran: [firstEvent, endEvent).
        uint64_t firstEvent { 0 };
        uint64_t endEvent { 0 };
    };
    // The commands that ran, in order.
    std::vector<AcceptedCommand> acceptedCommands();

    // Runs work with the settings pane loaded as the Settings app loads it, between
    // commands (the pane's code is not for two threads at once). Nullopt, or why the
    // pane could not be loaded.
    Platform::Expected<void> withPane(const std::function<void(SettingsHost::SettingsPane&)>&);

    // Listeners get every event, one at a time and in order, on whichever thread it arrived.
    // A listener must not call run(), state() or unsubscribe().
    using Listener = std::function<void(const SessionEvent&)>;
    int subscribe(Listener);
    void unsubscribe(int);

    // The device's state now (asks SpringBoard, as a command does).
    SessionState state();
    const std::string& root() const { return m_root; }
    bool realTime() const { return m_options.realTime; }
    // Scenario time now, in nanoseconds.
    int64_t now() const;

    // What the checks need to know of SpringBoard's life, asked between commands by the
    // thread that runs them.
    bool bootStarted() const;
    bool isRunning() const;
    uint64_t killRestartCount() const;
    bool waitFor(const std::function<bool()>& predicate, int64_t timeoutMilliseconds);
    // Names posted on the device since the last call (every delivery before the call counted).
    std::multiset<std::string> takePosted();

    // Ends a real-time wait under way at once (its command fails) and refuses the commands
    // after it: a driver that is stopping calls it from any thread before shutdown().
    void interrupt();
    // Stops SpringBoard and lets the device go. Idempotent; the destructor calls it.
    void shutdown();

private:
    struct Runner;
    DeviceSession(std::string root, SessionOptions, std::unique_ptr<Device::DeviceHold>);
    CommandResult perform(const Command&);
    SessionState currentState(); // with the command lock held
    void publish(int64_t stamp, const Driver::Event&);
    Platform::Expected<void> deviceCommand(const Driver::DeviceCommand&);
    Platform::Expected<void> boot(bool finishLaunching);
    Platform::Expected<void> changePackages(
        const std::function<Platform::Expected<Device::PackageChange>(Device::PackageManager&)>&);
    Platform::Expected<void> editSettings(const std::function<void(Platform::Plist::Dictionary&)>&);
    Platform::Expected<void> wait(int64_t nanoseconds);
    void postAndSettle(const std::string& name);
    void settleRestart(uint64_t restartsBefore);

    const std::string m_root;
    const SessionOptions m_options;
    std::unique_ptr<Device::DeviceHold> m_hold;
    const int64_t m_origin;
    std::atomic<int64_t> m_virtualNow { 0 };

    std::mutex m_commandLock;
    Device::Scheme m_scheme;
    Device::BootConfiguration m_boot;
    std::unique_ptr<Device::Supervisor> m_supervisor;
    std::vector<AcceptedCommand> m_accepted;

    std::mutex m_publishLock;
    std::map<int, Listener> m_listeners;
    int m_nextListener { 1 };
    std::vector<SessionEvent>* m_collecting { nullptr };
    uint64_t m_nextSequence { 1 };

    std::mutex m_interruptLock;
    std::condition_variable m_interrupted;
    std::atomic<bool> m_interrupting { false }; // set under m_interruptLock, for the waits' sake

    uint64_t m_postedMonitor { 0 };
    std::mutex m_postedLock;
    std::multiset<std::string> m_posted;
};

} // namespace Kestrel

// As the `state` line and the simulator page write them.
template <> struct Driver::Names<Kestrel::SessionState::SpringBoard> {
    static constexpr std::array words { "not-booted", "not-running", "running" };
    static constexpr auto last = Kestrel::SessionState::SpringBoard::Running;
};
