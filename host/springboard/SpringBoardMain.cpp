// The SpringBoard program: a real process started from the device's
// System/Library/CoreServices/SpringBoard.app/SpringBoard. It learns its
// device from its own path and its boot settings from the driver that started
// it (over descriptor 3), loads the injected libraries, creates its lock-screen
// objects, finishes launching and serves the driver's commands on its main
// queue until the driver goes away.
#include "host/device/DriverProtocol.h"
#include "host/device/LineChannel.h"
#include "host/springboard/HostCommands.h"
#include "host/springboard/InjectionLoader.h"
#include "host/springboard/SpringBoardClasses.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/fs/DeviceRoot.h"
#include "platform/fs/ExecutablePath.h"
#include "platform/log/SystemLog.h"
#include "platform/notify/Notify.h"
#include "platform/process/ChildReaper.h"
#include "platform/trace/Timeline.h"
#include "platform/trace/Trace.h"
#include "runtime/ObjC.h"
#include "runtime/Substrate.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

using namespace SpringBoardHost;

namespace {

constexpr const char* springBoardDevicePath = "/System/Library/CoreServices/SpringBoard.app/SpringBoard";
constexpr int driverDescriptor = 3;

HostProfile profileFor(const Driver::Boot& boot)
{
    HostProfile profile;
    profile.iosVersion = boot.ios;
    profile.coreFoundationVersion = boot.coreFoundation.value_or(Platform::coreFoundationVersionFor(boot.ios));
    profile.notificationRoute = boot.route.value_or(defaultNotificationRoute(boot.ios.major));
    return profile;
}

int64_t monotonicNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// How many children SpringBoard had started when the driver last asked (a drain).
std::atomic<uint64_t> s_startedAtDrain { 0 };

std::string_view field(std::span<const Platform::TraceField> fields, std::string_view name)
{
    for (auto& field : fields) {
        if (field.name == name)
            return field.value;
    }
    return {};
}

// The engine's reports, as the driver's typed events; a report of another kind, or one
// whose words are not known, is not an event anyone checks.
std::optional<Driver::Event> eventForReport(std::string_view report, std::span<const Platform::TraceField> fields)
{
    if (report == "decision") {
        auto outcome = Driver::named<Driver::Decision::Outcome>(field(fields, "outcome"));
        auto reason = Driver::named<Driver::Decision::Reason>(field(fields, "reason"));
        if (outcome && reason)
            return Driver::Decision { *outcome, *reason };
    }
    if (report == "delayed-unlock") {
        if (auto result = Driver::named<Driver::DelayedUnlock::Result>(field(fields, "result")))
            return Driver::DelayedUnlock { *result };
    }
    return std::nullopt;
}

// Every event reaches the driver stamped, in the order of its stamps, whichever
// thread (the main queue's, the notify delivery thread) it happened on.
class EventSender {
public:
    EventSender(std::shared_ptr<Device::LineChannel> channel, const Driver::Boot& boot)
        : m_channel(std::move(channel))
        , m_virtualClock(boot.virtualClock)
        , m_origin(boot.origin)
    {
    }

    void send(const Driver::Event& event)
    {
        std::lock_guard guard(m_lock);
        int64_t stamp = m_virtualClock ? Platform::mainQueue().now() : monotonicNanoseconds() - m_origin;
        m_channel->writeLine(Driver::encode(Driver::Upstream(Driver::StampedEvent { stamp, event })));
    }

private:
    std::mutex m_lock;
    std::shared_ptr<Device::LineChannel> m_channel;
    bool m_virtualClock;
    int64_t m_origin;
};

void serve(const std::shared_ptr<Device::LineChannel>& channel, bool virtualClock, const std::string& line)
{
    Platform::mainQueue().async([channel, virtualClock, line] {
        // Each turn of the main queue drains what it autoreleased.
        ObjC::AutoreleasePool pool;
        auto request = Driver::decodeRequest(line);
        Driver::Reply reply = Driver::Refused { "not a request: " + line.substr(0, 80) };
        if (request && std::holds_alternative<Driver::DrainNotify>(*request)) {
            // Every notification posted before this request has been handled once this returns.
            Platform::drainNotifyDeliveries();
            uint64_t started = Platform::ChildReaper::shared().watchedCount();
            reply = Driver::Drained { started - s_startedAtDrain.exchange(started) };
        } else if (request) {
            try {
                reply = runHostCommand(*request);
                if (virtualClock)
                    Platform::mainQueue().runUntilIdle();
            } catch (const std::exception& exception) {
                // An exception nobody catches ends SpringBoard, as it would on the device.
                Platform::systemLog(
                    std::string("SpringBoard: terminating with uncaught exception: ") + exception.what());
                std::fprintf(stderr, "SpringBoard: terminating with uncaught exception: %s\n", exception.what());
                std::abort();
            }
        }
        channel->writeLine(
            Driver::encode(std::visit([](auto& alternative) { return Driver::Upstream(alternative); }, reply)));
    });
}

} // namespace

int main()
{
    std::signal(SIGPIPE, SIG_IGN);
    ObjC::AutoreleasePool pool;
    // Hooks that could not be installed are told in the system log.
    ObjC::setHookWarningHandler([](const char* line) { Platform::systemLog(line); });
    // The process's own process info, as a Foundation program has it from its start (GNUstep
    // makes it on first use otherwise, inside whichever library asks first).
    ObjC::send<id>(ObjC::getClass("NSProcessInfo"), ObjC::sel("processInfo"));
    auto root = Platform::deviceRootOfExecutable(Platform::executablePath(), springBoardDevicePath);
    if (!root) {
        std::fprintf(stderr, "SpringBoard: this program runs only from a device's %s\n", springBoardDevicePath);
        return 2;
    }
    Platform::setDeviceRoot(*root);
    auto channel = std::make_shared<Device::LineChannel>(driverDescriptor);
    auto bootLine = channel->readLine();
    auto boot = bootLine ? Driver::decodeBoot(*bootLine) : std::nullopt;
    if (!boot) {
        std::fprintf(stderr, "SpringBoard: no boot configuration from a driver on descriptor %d\n", driverDescriptor);
        return 2;
    }
    HostProfile profile = profileFor(*boot);

    Platform::resetMainQueue(boot->virtualClock ? Platform::ClockKind::Virtual : Platform::ClockKind::Monotonic);
    if (boot->virtualClock)
        Platform::mainQueue().setNow(boot->now);
    Platform::setSystemVersion(profile.iosVersion);
    kCFCoreFoundationVersionNumber = profile.coreFoundationVersion;
    auto events = std::make_shared<EventSender>(channel, *boot);
    Platform::setTimelineSink([events](std::string_view text) { events->send(Driver::Note { std::string(text) }); });
    setHostEventSink([events](const Driver::Event& event) { events->send(event); });
    Platform::setTraceHook([events](std::string_view report, std::span<const Platform::TraceField> fields) {
        if (auto event = eventForReport(report, fields))
            events->send(*event);
    });
    Platform::ChildReaper::shared().setObserver([channel](pid_t, std::optional<int>) {
        channel->writeLine(Driver::encode(Driver::Upstream(Driver::ChildExited {})));
    });

    registerSpringBoardClasses(profile);
    loadInjectedLibraries("com.apple.springboard", "SpringBoard");
    createLockScreenObjects();
    if (boot->finishLaunching)
        finishLaunching();
    if (boot->virtualClock)
        Platform::mainQueue().runUntilIdle();
    channel->writeLine(Driver::encode(Driver::Upstream(Driver::Done {})));

    std::thread([channel, virtualClock = boot->virtualClock] {
        while (auto line = channel->readLine())
            serve(channel, virtualClock, *line);
        // The driver is gone: so is its device's SpringBoard.
        _exit(0);
    }).detach();
    Platform::mainQueue().run();
    return 0;
}
