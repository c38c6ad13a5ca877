#include "host/device/Supervisor.h"

#include "host/device/DeviceLayout.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <iomanip>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace Device {

namespace {

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

} // namespace

struct Supervisor::Generation {
    int number { 0 };
    pid_t pid { -1 };
    std::unique_ptr<LineChannel> channel;
    std::chrono::steady_clock::time_point started;
    // Guarded by the supervisor's lock.
    bool alive { true };
    bool booted { false };
    std::deque<std::string> replies;
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

std::optional<std::string> Supervisor::boot(bool finishLaunching)
{
    if (auto error = start(1, finishLaunching))
        return error;
    std::lock_guard guard(m_lock);
    m_booted = true;
    return std::nullopt;
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

std::optional<std::string> Supervisor::start(int number, bool finishLaunching)
{
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
        return std::string("cannot make a channel: ") + std::strerror(errno);
    int childEnd = sockets[1];
    if (childEnd == driverDescriptor) {
        childEnd = ::fcntl(sockets[1], F_DUPFD_CLOEXEC, driverDescriptor + 1);
        ::close(sockets[1]);
    }

    std::string executable = m_deviceRoot + Paths::springBoard;
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
        return "cannot start " + executable + ": " + std::strerror(error);
    }

    auto generation = std::make_shared<Generation>();
    generation->number = number;
    generation->pid = pid;
    generation->channel = std::make_unique<LineChannel>(sockets[0]);
    generation->started = std::chrono::steady_clock::now();

    std::ostringstream bootLine;
    bootLine << "boot clock=" << (m_configuration.virtualClock ? "virtual" : "real") << " now=" << m_clock()
             << " origin=" << m_configuration.origin << " ios=" << m_configuration.iosVersion
             << " launching=" << (finishLaunching ? "no" : "yes") << " generation=" << number;
    if (m_configuration.coreFoundationVersion)
        bootLine << " cf=" << std::setprecision(17) << *m_configuration.coreFoundationVersion;
    if (m_configuration.notificationRoute)
        bootLine << " route=" << *m_configuration.notificationRoute;
    generation->channel->writeLine(bootLine.str());

    {
        std::lock_guard guard(m_lock);
        m_current = generation;
        m_generation = number;
    }
    {
        std::lock_guard guard(m_lock);
        m_threads.emplace_back([this, generation] { read(generation); });
        m_threads.emplace_back([this, generation] { watch(generation); });
    }

    std::unique_lock lock(m_lock);
    bool answered = m_changed.wait_for(lock, bootTimeout, [&] { return !generation->replies.empty() || !generation->alive; });
    if (!answered || !generation->alive || generation->replies.front() != "ok") {
        lock.unlock();
        if (generation->alive)
            ::kill(pid, SIGKILL);
        return "SpringBoard did not start (see the device's var/log/syslog)";
    }
    generation->replies.pop_front();
    generation->booted = true;
    lock.unlock();
    m_changed.notify_all();
    m_events(m_clock(), "springboard started generation=" + std::to_string(number));
    return std::nullopt;
}

void Supervisor::read(std::shared_ptr<Generation> generation)
{
    while (auto line = generation->channel->readLine()) {
        std::string_view text = *line;
        if (text.starts_with("event ")) {
            text.remove_prefix(6);
            size_t space = text.find(' ');
            int64_t stamp = std::strtoll(std::string(text.substr(0, space)).c_str(), nullptr, 10);
            m_events(stamp, std::string(space == std::string_view::npos ? "" : text.substr(space + 1)));
            continue;
        }
        std::lock_guard guard(m_lock);
        if (text.starts_with("reply "))
            generation->replies.push_back(std::string(text.substr(6)));
        else if (text == "note child-exited")
            ++generation->childrenExited;
        m_changed.notify_all();
    }
}

void Supervisor::watch(std::shared_ptr<Generation> generation)
{
    int status = 0;
    while (::waitpid(generation->pid, &status, 0) < 0 && errno == EINTR) { }
    bool restart;
    bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    {
        std::lock_guard guard(m_lock);
        generation->alive = false;
        restart = m_booted && generation->booted && !m_shuttingDown && m_current == generation;
        if (restart) {
            bool died = std::chrono::steady_clock::now() - generation->started < quickDeath && !killed;
            m_quickDeaths = died ? m_quickDeaths + 1 : 0;
            if (m_quickDeaths >= quickDeathsBeforeGivingUp)
                restart = false;
            m_restarting = restart;
        }
    }
    m_changed.notify_all();
    generation->channel->shutdown();
    if (!m_shuttingDown)
        m_events(m_clock(), "springboard exited " + describeExit(status));
    if (!restart) {
        if (m_quickDeaths >= quickDeathsBeforeGivingUp)
            m_events(m_clock(), "springboard not restarted: it died " + std::to_string(m_quickDeaths) + " times in a row");
        return;
    }
    auto error = start(generation->number + 1, true);
    {
        std::lock_guard guard(m_lock);
        m_restarting = false;
        if (!error && killed)
            ++m_killRestarts;
    }
    m_changed.notify_all();
    if (error)
        m_events(m_clock(), "springboard not restarted: " + *error);
}

Supervisor::Reply Supervisor::command(const std::string& line)
{
    std::lock_guard serial(m_commandLock);
    std::shared_ptr<Generation> generation;
    {
        std::unique_lock lock(m_lock);
        m_changed.wait_for(lock, bootTimeout, [&] {
            return m_shuttingDown || (m_current && m_current->alive && m_current->booted) || (!m_restarting && (!m_current || !m_current->alive));
        });
        if (!m_current || !m_current->alive || !m_current->booted)
            return {};
        generation = m_current;
        generation->replies.clear();
    }
    if (!generation->channel->writeLine(line))
        return {};
    std::unique_lock lock(m_lock);
    m_changed.wait_for(lock, replyTimeout, [&] { return !generation->replies.empty() || !generation->alive; });
    if (generation->replies.empty())
        return {};
    std::string reply = generation->replies.front();
    generation->replies.pop_front();
    Reply result;
    result.delivered = true;
    result.ok = reply == "ok" || reply.starts_with("ok ");
    size_t space = reply.find(' ');
    result.text = space == std::string::npos ? "" : reply.substr(space + 1);
    return result;
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
    std::shared_ptr<Generation> generation;
    {
        std::lock_guard guard(m_lock);
        if (m_shuttingDown)
            return;
        m_shuttingDown = true;
        generation = m_current;
    }
    m_changed.notify_all();
    // Wait out a restart that is under way, then let the last SpringBoard go:
    // it ends when its channel closes.
    waitFor([&] {
        std::lock_guard guard(m_lock);
        return !m_restarting;
    }, 20000);
    {
        std::lock_guard guard(m_lock);
        generation = m_current;
    }
    if (generation && generation->alive) {
        generation->channel->shutdown();
        bool ended = waitFor([&] {
            std::lock_guard guard(m_lock);
            return !generation->alive;
        }, 5000);
        if (!ended)
            ::kill(generation->pid, SIGKILL);
        waitFor([&] {
            std::lock_guard guard(m_lock);
            return !generation->alive;
        }, 5000);
    }
    // Every reader and watcher ends once its SpringBoard has; none may outlive us.
    while (true) {
        std::vector<std::thread> threads;
        {
            std::lock_guard guard(m_lock);
            threads.swap(m_threads);
        }
        if (threads.empty())
            break;
        for (auto& thread : threads)
            thread.join();
    }
}

} // namespace Device
