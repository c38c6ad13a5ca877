// The SpringBoard program: a real process started from the device's
// System/Library/CoreServices/SpringBoard.app/SpringBoard. It learns its
// device from its own path and its boot settings from the driver that started
// it (over descriptor 3), loads the injected libraries, creates its lock-screen
// objects, finishes launching and serves the driver's commands on its main
// queue until the driver goes away.
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

#include <atomic>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <thread>
#include <unistd.h>

using namespace SpringBoardHost;

namespace {

constexpr const char* springBoardDevicePath = "/System/Library/CoreServices/SpringBoard.app/SpringBoard";
constexpr int driverDescriptor = 3;

struct BootSettings {
    bool virtualClock { true };
    int64_t now { 0 };
    int64_t origin { 0 };
    HostProfile profile;
    bool finishLaunching { true };
};

std::map<std::string, std::string> parseKeyValues(std::string_view line)
{
    std::map<std::string, std::string> values;
    size_t start = 0;
    while (start < line.size()) {
        size_t end = line.find(' ', start);
        if (end == std::string_view::npos)
            end = line.size();
        auto word = line.substr(start, end - start);
        size_t equals = word.find('=');
        if (equals != std::string_view::npos)
            values[std::string(word.substr(0, equals))] = std::string(word.substr(equals + 1));
        start = end + 1;
    }
    return values;
}

int64_t toInteger(const std::string& text)
{
    int64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

BootSettings parseBoot(std::string_view line)
{
    auto values = parseKeyValues(line);
    BootSettings settings;
    settings.virtualClock = values["clock"] != "real";
    settings.now = toInteger(values["now"]);
    settings.origin = toInteger(values["origin"]);
    Platform::parseSystemVersion(values["ios"], settings.profile.iosVersion);
    settings.profile.coreFoundationVersion = values.count("cf") ? std::strtod(values["cf"].c_str(), nullptr)
                                                                : Platform::coreFoundationVersionFor(settings.profile.iosVersion);
    const auto& route = values["route"];
    settings.profile.notificationRoute = route == "priority" ? NotificationRoute::Priority
        : route == "none"                                    ? NotificationRoute::None
        : route == "structured"                              ? NotificationRoute::Structured
                                : defaultNotificationRoute(settings.profile.iosVersion.major);
    settings.finishLaunching = values["launching"] != "yes";
    return settings;
}

int64_t monotonicNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::atomic<uint64_t> s_spawnsSinceDrain { 0 };

void serve(const std::shared_ptr<Device::LineChannel>& channel, bool virtualClock, const std::string& line)
{
    Platform::mainQueue().async([channel, virtualClock, line] {
        if (line == "drain-notify") {
            // Every notification posted before this command has been handled once this returns.
            Platform::drainNotifyDeliveries();
            channel->writeLine("reply ok spawned=" + std::to_string(s_spawnsSinceDrain.exchange(0)));
            return;
        }
        CommandReply reply;
        try {
            reply = runHostCommand(line);
            if (virtualClock)
                Platform::mainQueue().runUntilIdle();
        } catch (const std::exception& exception) {
            // An exception nobody catches ends SpringBoard, as it would on the device.
            Platform::systemLog(std::string("SpringBoard: terminating with uncaught exception: ") + exception.what());
            std::fprintf(stderr, "SpringBoard: terminating with uncaught exception: %s\n", exception.what());
            std::abort();
        }
        channel->writeLine(std::string(reply.ok ? "reply ok" : "reply error") + (reply.text.empty() ? "" : " ") + reply.text);
    });
}

} // namespace

int main()
{
    std::signal(SIGPIPE, SIG_IGN);
    auto root = Platform::deviceRootOfExecutable(Platform::executablePath(), springBoardDevicePath);
    if (!root) {
        std::fprintf(stderr, "SpringBoard: this program runs only from a device's %s\n", springBoardDevicePath);
        return 2;
    }
    Platform::setDeviceRoot(*root);
    auto channel = std::make_shared<Device::LineChannel>(driverDescriptor);
    auto bootLine = channel->readLine();
    if (!bootLine || !bootLine->starts_with("boot")) {
        std::fprintf(stderr, "SpringBoard: no boot settings from a driver on descriptor %d\n", driverDescriptor);
        return 2;
    }
    BootSettings boot = parseBoot(*bootLine);

    Platform::resetMainQueue(boot.virtualClock ? Platform::ClockKind::Virtual : Platform::ClockKind::Monotonic);
    if (boot.virtualClock)
        Platform::mainQueue().setNow(boot.now);
    Platform::setSystemVersion(boot.profile.iosVersion);
    kCFCoreFoundationVersionNumber = boot.profile.coreFoundationVersion;
    Platform::setTimelineSink([channel, virtualClock = boot.virtualClock, origin = boot.origin](std::string_view event) {
        int64_t stamp = virtualClock ? Platform::mainQueue().now() : monotonicNanoseconds() - origin;
        // Children actually started: an announced spawn that then failed does not count.
        if (event.starts_with("spawn "))
            ++s_spawnsSinceDrain;
        else if (event.starts_with("spawn-failed ") && s_spawnsSinceDrain)
            --s_spawnsSinceDrain;
        channel->writeLine("event " + std::to_string(stamp) + " " + std::string(event));
    });
    Platform::ChildReaper::shared().setObserver(
        [channel](pid_t, std::optional<int>) { channel->writeLine("note child-exited"); });

    registerSpringBoardClasses(boot.profile);
    loadInjectedLibraries("com.apple.springboard", "SpringBoard");
    createLockScreenObjects();
    if (boot.finishLaunching)
        finishLaunching();
    if (boot.virtualClock)
        Platform::mainQueue().runUntilIdle();
    channel->writeLine("reply ok");

    std::thread([channel, virtualClock = boot.virtualClock] {
        while (auto line = channel->readLine())
            serve(channel, virtualClock, *line);
        // The driver is gone: so is its device's SpringBoard.
        _exit(0);
    }).detach();
    Platform::mainQueue().run();
    return 0;
}
