#include "tools/kestrel/scenario/DeviceSession.h"

#include "host/device/DeviceLayout.h"
#include "host/device/PackageManager.h"
#include "platform/foundation/CoreFoundation.h"
#include "platform/fs/DeviceRoot.h"
#include "platform/notify/Notify.h"
#include "platform/plist/PropertyList.h"
#include "platform/trace/Timeline.h"
#include "tools/kestrel/scenario/PaneDriver.h"

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <iomanip>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace Kestrel {

namespace {

using namespace Platform::Plist;

constexpr const char* respringName = "com.plover.kestrel.respring";
constexpr int64_t respringWaitMilliseconds = 5000;

int64_t monotonicNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

std::string timelineLine(const SessionEvent& event)
{
    char prefix[48];
    std::snprintf(prefix, sizeof(prefix), "t=%" PRId64 ".%03" PRId64 " ", event.stamp / 1000000000,
        (event.stamp % 1000000000) / 1000000);
    return prefix + Driver::timelineText(event.event);
}

std::string describeState(const SessionState& state)
{
    using SpringBoard = SessionState::SpringBoard;
    if (state.springBoard != SpringBoard::Running || !state.device) {
        return std::string("state springboard=")
            + Driver::name(
                state.springBoard == SpringBoard::NotBooted ? SpringBoard::NotBooted : SpringBoard::NotRunning);
    }
    const auto& device = *state.device;
    std::ostringstream text;
    text << "state device=" << Driver::Facts::device.words(device.deviceLocked)
         << " lockscreen=" << Driver::Facts::lockscreen.words(device.lockscreenShown)
         << " launched=" << Device::yesNo(device.launched)
         << " audio=" << Driver::Facts::audio.words(device.audioPlaying) << " flashlight=" << device.flashlightLevel
         << " notifications=" << device.notifications.size();
    for (auto& section : device.notifications)
        text << (section ? " " + *section : std::string(" nil"));
    text << " ios=" << Platform::systemVersionString(device.ios) << " cf=" << std::setprecision(17)
         << device.coreFoundation << " companion=" << Driver::Facts::companion.words(device.companionInstalled)
         << " generation=" << state.generation;
    return text.str();
}

Platform::Expected<void> DeviceSession::admits(const std::string& root, const Command& command)
{
    auto* ios = std::get_if<SetIos>(&command);
    return ios ? Device::runsSystem(Device::schemeOf(root), ios->version) : Platform::Expected<void>();
}

Platform::Expected<std::unique_ptr<DeviceSession>> DeviceSession::open(const std::string& root, SessionOptions options)
{
    auto hold = Device::DeviceHold::take(root);
    if (!hold)
        return hold.failure();
    return std::unique_ptr<DeviceSession>(new DeviceSession(root, options, std::move(*hold)));
}

DeviceSession::DeviceSession(std::string root, SessionOptions options, std::unique_ptr<Device::DeviceHold> hold)
    : m_root(std::move(root))
    , m_options(options)
    , m_hold(std::move(hold))
    , m_origin(monotonicNanoseconds())
{
    m_scheme = Device::schemeOf(m_root);
    // A device runs its scheme's default system unless the scenario says otherwise.
    Platform::parseSystemVersion(Device::facts(m_scheme).defaultSystem, m_boot.ios);
    m_boot.virtualClock = !m_options.realTime;
    m_boot.origin = m_origin;
    Platform::setDeviceRoot(m_root);
    // What this process itself does (the pane's posts, the pages it opens) joins the timeline.
    Platform::setTimelineSink([this](std::string_view text) { publish(now(), Driver::Note { std::string(text) }); });
    m_postedMonitor = Platform::addNotifyMonitor([this](std::string_view name) {
        std::lock_guard guard(m_postedLock);
        m_posted.insert(std::string(name));
    });
}

DeviceSession::~DeviceSession()
{
    shutdown();
    // Nothing may call back into a session that is gone.
    Platform::removeNotifyMonitor(m_postedMonitor);
    Platform::setTimelineSink(nullptr);
}

void DeviceSession::interrupt()
{
    std::lock_guard guard(m_interruptLock);
    m_interrupting = true;
    m_interrupted.notify_all();
}

void DeviceSession::shutdown()
{
    std::lock_guard guard(m_commandLock);
    if (m_supervisor)
        m_supervisor->shutdown();
}

int64_t DeviceSession::now() const
{
    return m_options.realTime ? monotonicNanoseconds() - m_origin : m_virtualNow.load();
}

int DeviceSession::subscribe(Listener listener)
{
    std::lock_guard guard(m_publishLock);
    int id = m_nextListener++;
    m_listeners.emplace(id, std::move(listener));
    return id;
}

void DeviceSession::unsubscribe(int id)
{
    std::lock_guard guard(m_publishLock);
    m_listeners.erase(id);
}

void DeviceSession::publish(int64_t stamp, const Driver::Event& event)
{
    std::lock_guard guard(m_publishLock);
    SessionEvent published { stamp, event, m_nextSequence++ };
    if (m_collecting)
        m_collecting->push_back(published);
    for (auto& [id, listener] : m_listeners)
        listener(published);
}

CommandResult DeviceSession::run(const Command& command, std::string_view text)
{
    std::lock_guard guard(m_commandLock);
    int64_t startedAt = now();
    std::vector<SessionEvent> events;
    uint64_t firstEvent = 0;
    {
        std::lock_guard publishGuard(m_publishLock);
        m_collecting = &events;
        firstEvent = m_nextSequence;
    }
    CommandResult result;
    try {
        result
            = m_interrupting ? CommandResult { Platform::Failure { "the session is ending" }, {} } : perform(command);
    } catch (const std::exception& exception) {
        result = { Platform::Failure { exception.what() }, {} };
    }
    uint64_t endEvent = 0;
    {
        std::lock_guard publishGuard(m_publishLock);
        m_collecting = nullptr;
        endEvent = m_nextSequence;
    }
    result.events = std::move(events);
    if (result.outcome.ok())
        m_accepted.push_back({ startedAt, now(), std::string(text), command, firstEvent, endEvent });
    return result;
}

std::vector<DeviceSession::AcceptedCommand> DeviceSession::acceptedCommands()
{
    std::lock_guard guard(m_commandLock);
    return m_accepted;
}

Platform::Expected<void> DeviceSession::withPane(const std::function<void(SettingsHost::SettingsPane&)>& work)
{
    std::lock_guard guard(m_commandLock);
    return usePane(work);
}

// Each command, carried out. A command without its own overload does not compile: the
// unconstrained template is deleted, and the two constrained ones take whole kinds of
// command (the checks, which the session does not run, and the device's own).
struct DeviceSession::Runner {
    DeviceSession& session;

    static CommandResult outcome(const Platform::Expected<void>& result) { return CommandResult { result, {} }; }
    // The parser keeps each driver's lines in order; the session keeps the device's own.
    template <typename Change> CommandResult beforeBoot(Change&& change) const
    {
        if (session.m_supervisor)
            return { Platform::Failure { "the device is already booted; set-up comes before boot" }, {} };
        return change();
    }
    // A change of the boot configuration, before boot.
    template <typename Set> CommandResult configure(Set&& set) const
    {
        return beforeBoot([&] {
            set(session.m_boot);
            return CommandResult {};
        });
    }

    template <typename T> CommandResult operator()(const T&) const = delete;
    template <typename T>
    requires isCheck<T> CommandResult operator()(const T&) const
    {
        return { Platform::Failure { "a check is not a command the device runs" }, {} };
    }
    template <typename T>
    requires isDeviceCommand<T> CommandResult operator()(const T& command) const
    {
        return outcome(session.deviceCommand(command));
    }

    CommandResult operator()(const SetIos& command) const
    {
        return beforeBoot([&] {
            if (auto runs = Device::runsSystem(session.m_scheme, command.version); !runs)
                return outcome(runs);
            session.m_boot.ios = command.version;
            return CommandResult {};
        });
    }
    CommandResult operator()(const SetCoreFoundation& command) const
    {
        return configure([&](auto& boot) { boot.coreFoundation = command.number; });
    }
    CommandResult operator()(const SetNotificationsRoute& command) const
    {
        return configure([&](auto& boot) { boot.route = command.route; });
    }
    CommandResult operator()(const SetProcessName& command) const
    {
        return configure([&](auto& boot) { boot.processName = command.name; });
    }
    CommandResult operator()(const SetCompanion& command) const
    {
        return beforeBoot([&] {
            return outcome(Device::setCompanionInstalled(
                session.m_root, command.installed, Device::Artifacts::nextToExecutable()));
        });
    }
    CommandResult operator()(const Boot& command) const
    {
        return beforeBoot([&] { return outcome(session.boot(command.finishLaunching)); });
    }
    CommandResult operator()(const SettingsWrite& command) const
    {
        return outcome(session.editSettings([&](Dictionary& settings) {
            for (auto& [key, value] : command.entries) {
                if (value)
                    settings.set(key, *value);
                else
                    settings.remove(key);
            }
        }));
    }
    CommandResult operator()(const SettingsRemove& command) const
    {
        return outcome(session.editSettings([&](Dictionary& settings) {
            for (auto& key : command.keys)
                settings.remove(key);
        }));
    }
    CommandResult operator()(const SettingsDelete&) const
    {
        std::string path = session.m_root + Device::Paths::settingsFile;
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            return outcome(Platform::Failure { "cannot delete the settings file" });
        return {};
    }
    CommandResult operator()(const SettingsCorrupt&) const
    {
        if (!replaceFileAtomically(
                session.m_root + Device::Paths::settingsFile, "this is not a property list \x01\x02\xff\n"))
            return outcome(Platform::Failure { "cannot write the settings file" });
        return {};
    }
    CommandResult operator()(const PackageInstall& command) const
    {
        return outcome(session.changePackages([&](Device::PackageManager& packages) {
            return packages.install(command.file.value_or(
                Device::Artifacts::nextToExecutable().kestrelPackage(Device::schemeOf(session.m_root))));
        }));
    }
    CommandResult operator()(const PackageRemove& command) const
    {
        return outcome(session.changePackages([&](Device::PackageManager& packages) {
            return packages.remove(Device::PackageNames::kestrel, command.purge);
        }));
    }
    CommandResult operator()(const Respring&) const
    {
        session.postAndSettle(respringName); // what the pane's restart button does
        return {};
    }
    CommandResult operator()(const Post& command) const
    {
        session.postAndSettle(command.name);
        return {};
    }
    CommandResult operator()(const PaneSet& command) const { return outcome(paneSet(command.key, command.word)); }
    CommandResult operator()(const PaneTap& command) const
    {
        uint64_t restartsBefore = session.killRestartCount();
        auto tapped = paneTap(command.action);
        // A restart the pane asked for settles as one asked for by `respring`.
        if (tapped && command.action == "respring")
            session.settleRestart(restartsBefore);
        return outcome(tapped);
    }
    CommandResult operator()(const Wait& command) const { return outcome(session.wait(command.nanoseconds)); }
    CommandResult operator()(const PrintState&) const
    {
        session.publish(session.now(), Driver::Note { describeState(session.currentState()) });
        return {};
    }
};

CommandResult DeviceSession::perform(const Command& command) { return std::visit(Runner { *this }, command); }

Platform::Expected<void> DeviceSession::deviceCommand(const Driver::DeviceCommand& command)
{
    if (!m_supervisor || !m_supervisor->hasBooted())
        return Platform::Failure { "the device has not booted" };
    auto answer = m_supervisor->request(Driver::toRequest(command));
    if (!answer.delivered)
        return Platform::Failure { "SpringBoard is not running" };
    if (auto* refused = std::get_if<Driver::Refused>(&answer.reply))
        return Platform::Failure { "SpringBoard refused the command: " + refused->error };
    return {};
}

// As package managers on a phone do, dpkg's work ends with a restart of a booted
// SpringBoard; the command returns once the new one runs.
Platform::Expected<void> DeviceSession::changePackages(
    const std::function<Platform::Expected<Device::PackageChange>(Device::PackageManager&)>& change)
{
    Device::PackageManager packages(m_root);
    // The restart comes after the change is on the timeline.
    packages.setRestartsSpringBoard(false);
    auto result = change(packages);
    if (!result)
        return result.failure();
    publish(now(), Driver::Note { "dpkg " + result->message });
    uint64_t restartsBefore = m_supervisor ? m_supervisor->killRestartCount() : 0;
    if (result->changedWhatLoads && m_supervisor && m_supervisor->isRunning() && Device::restartSpringBoard(m_root))
        m_supervisor->waitFor(
            [&] { return m_supervisor->killRestartCount() > restartsBefore; }, respringWaitMilliseconds);
    return {};
}

Platform::Expected<void> DeviceSession::boot(bool finishLaunching)
{
    // A phone's firmware package follows the system it runs.
    if (auto recorded = Device::PackageManager(m_root).setFirmwareVersion(Platform::systemVersionString(m_boot.ios));
        !recorded)
        return recorded;
    m_supervisor = std::make_unique<Device::Supervisor>(
        m_root, m_boot, [this] { return now(); },
        [this](int64_t stamp, const Driver::Event& event) { publish(stamp, event); });
    return m_supervisor->boot(finishLaunching);
}

SessionState DeviceSession::state()
{
    std::lock_guard guard(m_commandLock);
    return currentState();
}

SessionState DeviceSession::currentState()
{
    SessionState current;
    if (!m_supervisor || !m_supervisor->hasBooted())
        return current;
    current.springBoard = SessionState::SpringBoard::NotRunning;
    current.generation = m_supervisor->generation();
    if (!m_supervisor->isRunning())
        return current;
    auto answer = m_supervisor->request(Driver::QueryState {});
    if (auto* device = std::get_if<Driver::DeviceState>(&answer.reply); answer.delivered && device) {
        current.springBoard = SessionState::SpringBoard::Running;
        current.device = *device;
        current.generation = m_supervisor->generation();
    }
    return current;
}

bool DeviceSession::bootStarted() const { return bool(m_supervisor); }

bool DeviceSession::isRunning() const { return m_supervisor && m_supervisor->isRunning(); }

uint64_t DeviceSession::killRestartCount() const { return m_supervisor ? m_supervisor->killRestartCount() : 0; }

bool DeviceSession::waitFor(const std::function<bool()>& predicate, int64_t timeoutMilliseconds)
{
    if (!m_supervisor) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMilliseconds));
        return predicate();
    }
    return m_supervisor->waitFor(predicate, timeoutMilliseconds);
}

std::multiset<std::string> DeviceSession::takePosted()
{
    Platform::drainNotifyDeliveries();
    std::multiset<std::string> posted;
    std::lock_guard guard(m_postedLock);
    posted.swap(m_posted);
    return posted;
}

// Posts a notification; in a virtual-time run, also waits (in real time, up
// to a bound) until any restart it causes has happened or clearly will not.
void DeviceSession::postAndSettle(const std::string& name)
{
    uint64_t restartsBefore = m_supervisor ? m_supervisor->killRestartCount() : 0;
    Platform::postNotification(name);
    settleRestart(restartsBefore);
}

void DeviceSession::settleRestart(uint64_t restartsBefore)
{
    if (m_options.realTime || !m_supervisor || !m_supervisor->isRunning())
        return;
    uint64_t childrenBefore = m_supervisor->childrenExited();
    auto answer = m_supervisor->request(Driver::DrainNotify {});
    auto* drained = std::get_if<Driver::Drained>(&answer.reply);
    uint64_t spawned = answer.delivered && drained ? drained->spawned : 0;
    if (answer.delivered && !spawned)
        return;
    // A killall is under way (or SpringBoard already died): wait for the new
    // SpringBoard, or for every killall to end with this one still alive.
    m_supervisor->waitFor(
        [&] {
            if (m_supervisor->killRestartCount() > restartsBefore)
                return true;
            return answer.delivered && m_supervisor->isRunning()
                && m_supervisor->childrenExited() >= childrenBefore + spawned;
        },
        respringWaitMilliseconds);
    if (m_supervisor->killRestartCount() == restartsBefore) {
        // Give a kill that was just sent the moment it takes to land.
        m_supervisor->waitFor([&] { return m_supervisor->killRestartCount() > restartsBefore; }, 100);
    }
}

Platform::Expected<void> DeviceSession::wait(int64_t nanoseconds)
{
    if (m_options.realTime) {
        std::unique_lock guard(m_interruptLock);
        if (m_interrupted.wait_for(guard, std::chrono::nanoseconds(nanoseconds), [&] { return m_interrupting.load(); }))
            return Platform::Failure { "the session is ending" };
        return {};
    }
    int64_t target = m_virtualNow.load() + nanoseconds;
    Platform::Expected<void> advanced;
    if (m_supervisor && m_supervisor->isRunning()) {
        auto answer = m_supervisor->request(Driver::Advance { nanoseconds });
        if (!answer.delivered)
            advanced = Platform::Failure { "SpringBoard is not running" };
    }
    m_virtualNow = target;
    return advanced;
}

// Changes the settings file's entries, keeping the others (a file that is no dictionary
// starts again empty), and writes it back atomically.
Platform::Expected<void> DeviceSession::editSettings(const std::function<void(Dictionary&)>& edit)
{
    std::string path = m_root + Device::Paths::settingsFile;
    auto file = readFile(path);
    Dictionary settings;
    if (file.ok() && file.value.asDictionary())
        settings = *file.value.asDictionary();
    edit(settings);
    if (!writeFileAtomically(path, Value(std::move(settings))))
        return Platform::Failure { "cannot write the settings file" };
    return {};
}

} // namespace Kestrel
