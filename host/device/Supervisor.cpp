#include "host/device/Supervisor.h"

#include "host/device/TimelineNotes.h"
#include "platform/notify/Notify.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Device {

namespace {

constexpr const char* springBoardPath = "/System/Library/CoreServices/SpringBoard.app/SpringBoard";
constexpr int driverDescriptor = 3;
constexpr auto bootTimeout = std::chrono::seconds(15);
constexpr auto replyTimeout = std::chrono::seconds(60);
// A SpringBoard that dies this soon after starting, this many times in a row, is not started again.
constexpr auto quickDeath = std::chrono::seconds(2);
constexpr int quickDeathsBeforeGivingUp = 5;

std::string describeExit(int status)
{
    if (WIFSIGNALED(status))
        return "signal=" + std::to_string(WTERMSIG(status));
    return "status=" + std::to_string(WEXITSTATUS(status));
}

int waitForExit(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    return status;
}

} // namespace

struct Supervisor::Generation {
    int number { 0 };
    pid_t pid { -1 };
    std::unique_ptr<LineChannel> channel;
    std::chrono::steady_clock::time_point started;
    // Delivers this SpringBoard's events and replies; joined once it has died.
    std::thread reader;
    // Guarded by the supervisor's lock.
    bool alive { true };
    bool channelClosed { false };
    bool booted { false };
    std::deque<Driver::Reply> replies;
    uint64_t childrenExited { 0 };
};

Supervisor::Supervisor(std::string deviceRoot, BootConfiguration configuration, Clock clock, EventHandler events)
    : m_deviceRoot(std::move(deviceRoot))
    , m_configuration(std::move(configuration))
    , m_clock(std::move(clock))
    , m_events(std::move(events))
{
}

Supervisor::~Supervisor() { shutdown(); }

Platform::Expected<void> Supervisor::boot(bool finishLaunching)
{
    if (auto started = start(1, finishLaunching); !started)
        return started;
    std::lock_guard guard(m_lock);
    m_booted = true;
    m_watcher = std::thread([this] { watch(); });
    return {};
}

bool Supervisor::hasBooted() const
{
    std::lock_guard guard(m_lock);
    return m_booted;
}

bool Supervisor::isRunning() const
{
    std::lock_guard guard(m_lock);
    return m_current && m_current->alive && m_current->booted;
}

int Supervisor::generation() const
{
    std::lock_guard guard(m_lock);
    return m_generation;
}

Platform::Expected<void> Supervisor::start(int number, bool finishLaunching, bool* killedWhileStarting)
{
    // The notify registrations of processes killed since (an earlier SpringBoard among them).
    Platform::removeDeadNotifyRegistrations(m_deviceRoot);
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
        return Platform::Failure { std::string("cannot make a channel: ") + std::strerror(errno) };
    int childEnd = sockets[1];
    if (childEnd == driverDescriptor) {
        childEnd = ::fcntl(sockets[1], F_DUPFD_CLOEXEC, driverDescriptor + 1);
        ::close(sockets[1]);
    }

    std::string executable = m_deviceRoot + springBoardPath;
    std::string argument0 = std::string("/System/Library/CoreServices/SpringBoard.app/") + m_configuration.processName;
    char* argv[] = { argument0.data(), nullptr };
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, childEnd, driverDescriptor);
    posix_spawn_file_actions_addclosefrom_np(&actions, driverDescriptor + 1);
    pid_t pid = -1;
    int error = ::posix_spawn(&pid, executable.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(childEnd);
    if (error) {
        ::close(sockets[0]);
        return Platform::Failure { "cannot start " + executable + ": " + std::strerror(error) };
    }

    auto generation = std::make_shared<Generation>();
    generation->number = number;
    generation->pid = pid;
    generation->channel = std::make_unique<LineChannel>(sockets[0]);
    generation->started = std::chrono::steady_clock::now();

    Driver::Boot boot;
    boot.virtualClock = m_configuration.virtualClock;
    boot.now = m_clock();
    boot.origin = m_configuration.origin;
    boot.ios = m_configuration.ios;
    boot.coreFoundation = m_configuration.coreFoundation;
    boot.route = m_configuration.route;
    boot.finishLaunching = finishLaunching;
    boot.generation = number;
    generation->channel->writeLine(Driver::encode(boot));

    {
        std::lock_guard guard(m_lock);
        m_current = generation;
        m_generation = number;
    }
    generation->reader = std::thread([this, raw = generation.get()] { read(*raw); });

    std::unique_lock lock(m_lock);
    bool answered = m_changed.wait_for(lock, bootTimeout,
        [&] { return !generation->replies.empty() || !generation->alive || generation->channelClosed; });
    if (!answered || generation->replies.empty()
        || !std::holds_alternative<Driver::Done>(generation->replies.front())) {
        bool diedByItself = !generation->alive || generation->channelClosed;
        generation->alive = false;
        lock.unlock();
        // The watcher does not know this SpringBoard: end it and its reader here.
        ::kill(pid, SIGKILL);
        int status = waitForExit(pid);
        if (killedWhileStarting)
            *killedWhileStarting = diedByItself && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        generation->channel->shutdown();
        generation->reader.join();
        m_events(m_clock(), Driver::Note { Driver::Notes::springboardExited.line(describeExit(status)) });
        return Platform::Failure { "SpringBoard did not start (see the device's var/log/syslog)" };
    }
    generation->replies.pop_front();
    generation->booted = true;
    lock.unlock();
    m_changed.notify_all();
    m_events(m_clock(), Driver::Note { Driver::Notes::springboardStarted.line(number) });
    return {};
}

void Supervisor::read(Generation& generation)
{
    while (auto line = generation.channel->readLine()) {
        auto message = Driver::decodeUpstream(*line);
        if (!message)
            continue;
        if (auto* stamped = std::get_if<Driver::StampedEvent>(&*message)) {
            m_events(stamped->stamp, stamped->event);
            continue;
        }
        std::lock_guard guard(m_lock);
        if (std::holds_alternative<Driver::ChildExited>(*message))
            ++generation.childrenExited;
        else {
            generation.replies.push_back(std::visit(
                [](auto& reply) -> Driver::Reply {
                    if constexpr (std::is_constructible_v<Driver::Reply, decltype(reply)>)
                        return reply;
                    else
                        return Driver::Done {};
                },
                *message));
        }
        m_changed.notify_all();
    }
    std::lock_guard guard(m_lock);
    generation.channelClosed = true;
    m_changed.notify_all();
}

void Supervisor::watch()
{
    while (true) {
        std::shared_ptr<Generation> generation;
        {
            std::lock_guard guard(m_lock);
            generation = m_current;
        }
        int status = waitForExit(generation->pid);
        bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        bool restart;
        bool shuttingDown;
        {
            std::lock_guard guard(m_lock);
            generation->alive = false;
            shuttingDown = m_shuttingDown;
            restart = !shuttingDown;
            if (restart) {
                bool died = std::chrono::steady_clock::now() - generation->started < quickDeath && !killed;
                m_quickDeaths = died ? m_quickDeaths + 1 : 0;
                if (m_quickDeaths >= quickDeathsBeforeGivingUp)
                    restart = false;
            }
            m_restarting = restart;
        }
        m_changed.notify_all();
        // A child of the dead SpringBoard may still hold its end of the channel: close ours.
        generation->channel->shutdown();
        generation->reader.join();
        if (!shuttingDown)
            m_events(m_clock(), Driver::Note { Driver::Notes::springboardExited.line(describeExit(status)) });
        if (!restart) {
            if (!shuttingDown) {
                m_events(m_clock(),
                    Driver::Note { Driver::Notes::springboardNotRestarted.line(
                        "it died " + std::to_string(m_quickDeaths) + " times in a row") });
            }
            return;
        }
        // A restart that overtakes this one (a second killall) may kill the new SpringBoard
        // before it answers: that is one more kill, and one more restart.
        int number = generation->number + 1;
        bool killedWhileStarting = false;
        auto started = start(number, true, &killedWhileStarting);
        auto stopping = [this] {
            std::lock_guard guard(m_lock);
            return m_shuttingDown;
        };
        while (!started && killedWhileStarting && !stopping())
            started = start(++number, true, &killedWhileStarting);
        {
            std::lock_guard guard(m_lock);
            m_restarting = false;
            if (started && killed)
                ++m_killRestarts;
        }
        m_changed.notify_all();
        if (!started) {
            m_events(m_clock(), Driver::Note { Driver::Notes::springboardNotRestarted.line(started.error()) });
            return;
        }
    }
}

Supervisor::Answer Supervisor::request(const Driver::Request& request)
{
    std::lock_guard serial(m_requestLock);
    std::shared_ptr<Generation> generation;
    {
        std::unique_lock lock(m_lock);
        m_changed.wait_for(lock, bootTimeout, [&] {
            return m_shuttingDown || (m_current && m_current->alive && m_current->booted)
                || (!m_restarting && (!m_current || !m_current->alive));
        });
        if (!m_current || !m_current->alive || !m_current->booted)
            return {};
        generation = m_current;
        generation->replies.clear();
    }
    if (!generation->channel->writeLine(Driver::encode(request)))
        return {};
    std::unique_lock lock(m_lock);
    m_changed.wait_for(lock, replyTimeout, [&] { return !generation->replies.empty() || !generation->alive; });
    if (generation->replies.empty())
        return {};
    Answer answer { true, std::move(generation->replies.front()) };
    generation->replies.pop_front();
    return answer;
}

uint64_t Supervisor::killRestartCount() const
{
    std::lock_guard guard(m_lock);
    return m_killRestarts;
}

uint64_t Supervisor::childrenExited() const
{
    std::lock_guard guard(m_lock);
    return m_current ? m_current->childrenExited : 0;
}

bool Supervisor::waitFor(const std::function<bool()>& predicate, int64_t timeoutMilliseconds)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::unique_lock lock(m_lock);
        m_changed.wait_for(lock, std::chrono::milliseconds(20));
    }
    return true;
}

void Supervisor::shutdown()
{
    {
        std::lock_guard guard(m_lock);
        if (m_shuttingDown)
            return;
        m_shuttingDown = true;
    }
    m_changed.notify_all();
    // Wait out a restart that is under way, then let the last SpringBoard go:
    // it ends when its channel closes.
    waitFor(
        [&] {
            std::lock_guard guard(m_lock);
            return !m_restarting;
        },
        20000);
    std::shared_ptr<Generation> generation;
    {
        std::lock_guard guard(m_lock);
        generation = m_current;
    }
    auto ended = [&] {
        std::lock_guard guard(m_lock);
        return !generation->alive;
    };
    if (generation && !ended()) {
        generation->channel->shutdown();
        if (!waitFor(ended, 5000))
            ::kill(generation->pid, SIGKILL);
        waitFor(ended, 5000);
    }
    // The watcher ends once the last SpringBoard has; it joined that one's reader.
    if (m_watcher.joinable())
        m_watcher.join();
    Platform::removeDeadNotifyRegistrations(m_deviceRoot);
}

} // namespace Device
