// The device's launcher: starts SpringBoard, talks to it through the driver
// protocol, and starts it again whenever it dies (which is how a restart request
// takes effect). Its own events ("springboard exited signal=9", "springboard
// started generation=2") join SpringBoard's on the timeline.
#pragma once

#include "host/device/DriverProtocol.h"
#include "host/device/LineChannel.h"
#include "platform/Expected.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>

namespace Device {

struct BootConfiguration {
    bool virtualClock { true };
    Platform::SystemVersion ios { 14, 0, 0 };
    std::optional<double> coreFoundation;
    std::optional<Driver::NotificationRoute> route;
    // The last component of SpringBoard's first argument.
    std::string processName { "SpringBoard" };
    // Real-time runs stamp events relative to this monotonic instant.
    int64_t origin { 0 };
};

class Supervisor {
public:
    // Timeline events, SpringBoard's and the supervisor's, with their stamps in nanoseconds.
    // Called on the supervisor's threads, one event at a time per SpringBoard.
    using EventHandler = std::function<void(int64_t stamp, const Driver::Event&)>;
    // The driver's current time, for virtual-clock boots and the supervisor's own events.
    using Clock = std::function<int64_t()>;

    Supervisor(std::string deviceRoot, BootConfiguration, Clock, EventHandler);
    ~Supervisor();

    // Starts the first SpringBoard and waits until it has booted. With
    // finishLaunching false it does not send applicationDidFinishLaunching:.
    Platform::Expected<void> boot(bool finishLaunching);
    bool hasBooted() const;
    bool isRunning() const;
    int generation() const;

    struct Answer {
        bool delivered { false }; // false: no SpringBoard answered (it died, or none runs)
        Driver::Reply reply;
    };
    // Waits for a SpringBoard (a restart may be under way), sends, waits for the reply.
    // Every event the request caused has reached the event handler when this returns.
    Answer request(const Driver::Request&);

    // How many times SpringBoard was killed with signal 9 and started again.
    uint64_t killRestartCount() const;
    // Children SpringBoard started that have ended, in the current generation.
    uint64_t childrenExited() const;
    // Waits (real time) until the predicate holds or the timeout passes; true if it held.
    bool waitFor(const std::function<bool()>& predicate, int64_t timeoutMilliseconds);

    // Lets the last SpringBoard go and joins every thread. Idempotent.
    void shutdown();

private:
    struct Generation;
    // killedWhileStarting: the new SpringBoard was killed (signal 9) before it answered its
    // boot, as a restart that overtakes the one before it does.
    Platform::Expected<void> start(int number, bool finishLaunching, bool* killedWhileStarting = nullptr);
    void read(Generation&);
    void watch();

    const std::string m_deviceRoot;
    const BootConfiguration m_configuration;
    const Clock m_clock;
    const EventHandler m_events;

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::mutex m_requestLock;
    std::shared_ptr<Generation> m_current;
    int m_generation { 0 };
    bool m_booted { false };
    bool m_shuttingDown { false };
    bool m_restarting { false };
    uint64_t m_killRestarts { 0 };
    int m_quickDeaths { 0 };
    // Waits for each SpringBoard to end and starts the next, from boot to shutdown.
    std::thread m_watcher;
};

} // namespace Device
