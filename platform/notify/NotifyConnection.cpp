#include "platform/notify/NotifyConnection.h"

#include "platform/fs/DeviceRoot.h"
#include "platform/log/SystemLog.h"
#include "platform/notify/NotifyAddress.h"
#include "platform/trace/Timeline.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pthread.h>
#include <random>
#include <stdexcept>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace Platform {

namespace {

constexpr auto drainTimeout = std::chrono::seconds(5);
constexpr auto closeTimeout = std::chrono::seconds(5);

struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const { return std::hash<std::string_view>()(name); }
};

uint64_t randomNonce()
{
    uint64_t nonce = 0;
    if (::getrandom(&nonce, sizeof(nonce), 0) != sizeof(nonce))
        nonce = std::random_device()() ^ (static_cast<uint64_t>(std::random_device()()) << 32);
    return nonce;
}

std::string requireDeviceRoot(std::string_view operation)
{
    auto root = deviceRoot();
    if (!root)
        throw std::logic_error(std::string(operation) + ": no device root is set; notifications belong to a device");
    return *root;
}

bool sendDatagram(int socket, std::string_view datagram, int flags = 0)
{
    for (;;) {
        if (::send(socket, datagram.data(), datagram.size(), MSG_NOSIGNAL | flags) >= 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

constexpr auto dropLogInterval = std::chrono::seconds(1);

std::string countedMessages(uint64_t count, std::string_view adjective)
{
    return std::to_string(count) + " " + std::string(adjective) + (count == 1 ? "message" : "messages");
}

// Counts the datagrams an endpoint drops and reports them in the system log, one line at most
// every second however many arrive: a flood of junk must not become a flood of log lines.
class NotifyDropCounter {
public:
    using Clock = std::chrono::steady_clock;

    void dropMalformed() { drop(m_malformed); }
    void dropForeign() { drop(m_foreign); }

    // How long the receiver may block before pending counts are due: -1 (for ever) when none are.
    int flushTimeoutMilliseconds() const
    {
        if (!m_malformed && !m_foreign)
            return -1;
        auto left = std::chrono::ceil<std::chrono::milliseconds>(m_nextLog - Clock::now()).count();
        return static_cast<int>(std::clamp<decltype(left)>(left, 0, 1000));
    }

    void flushIfDue()
    {
        if (Clock::now() >= m_nextLog)
            flush();
    }

    void flush()
    {
        if (!m_malformed && !m_foreign)
            return;
        std::string line = "notify: dropped ";
        if (m_malformed)
            line += countedMessages(m_malformed, "malformed ");
        if (m_malformed && m_foreign)
            line += " and ";
        if (m_foreign)
            line += countedMessages(m_foreign, "") + " from another user";
        m_malformed = m_foreign = 0;
        m_nextLog = Clock::now() + dropLogInterval;
        systemLog(line);
    }

private:
    void drop(uint64_t& count)
    {
        ++count;
        flushIfDue();
    }

    uint64_t m_malformed { 0 };
    uint64_t m_foreign { 0 };
    Clock::time_point m_nextLog {};
};

enum class ReceiveStatus { Received, ShutDown, TimedOut, Failed };

struct ReceivedDatagram {
    ReceiveStatus status { ReceiveStatus::Failed };
    size_t length { 0 }; // the datagram's own length, also when it did not fit
    bool fromOwnUser { false };
};

// Waits up to timeoutMilliseconds (-1: for ever) for one datagram and takes it with its sender's
// credentials, which the kernel attaches to every datagram once SO_PASSCRED is on.
ReceivedDatagram receiveDatagram(int socket, char* buffer, size_t size, int timeoutMilliseconds)
{
    ReceivedDatagram result;
    int flags = MSG_TRUNC | MSG_CMSG_CLOEXEC;
    if (timeoutMilliseconds >= 0) {
        pollfd waiting { socket, POLLIN, 0 };
        int ready = ::poll(&waiting, 1, timeoutMilliseconds);
        if (ready < 0 && errno != EINTR)
            return result;
        if (ready <= 0) {
            result.status = ReceiveStatus::TimedOut;
            return result;
        }
        flags |= MSG_DONTWAIT;
    }

    iovec data { buffer, size };
    // Room for the credentials and a few descriptors: anything passed along is closed unused.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred)) + CMSG_SPACE(8 * sizeof(int))];
    msghdr header {};
    header.msg_iov = &data;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof(control);
    ssize_t length = ::recvmsg(socket, &header, flags);
    if (length < 0) {
        result.status = errno == EINTR || errno == EAGAIN ? ReceiveStatus::TimedOut : ReceiveStatus::Failed;
        return result;
    }

    bool hasCredentials = false;
    for (cmsghdr* message = CMSG_FIRSTHDR(&header); message; message = CMSG_NXTHDR(&header, message)) {
        if (message->cmsg_level != SOL_SOCKET)
            continue;
        if (message->cmsg_type == SCM_CREDENTIALS && message->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
            ucred credentials;
            std::memcpy(&credentials, CMSG_DATA(message), sizeof(credentials));
            hasCredentials = true;
            result.fromOwnUser = credentials.uid == ::getuid();
        } else if (message->cmsg_type == SCM_RIGHTS) {
            size_t count = (message->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (size_t i = 0; i < count; ++i) {
                int descriptor;
                std::memcpy(&descriptor, CMSG_DATA(message) + i * sizeof(int), sizeof(int));
                ::close(descriptor);
            }
        }
    }
    // Every datagram carries credentials; a read of nothing without them is a socket shut down.
    result.status = !length && !hasCredentials ? ReceiveStatus::ShutDown : ReceiveStatus::Received;
    result.length = static_cast<size_t>(length);
    return result;
}

} // namespace

struct NotifyConnection::ObserverTable {
    std::unordered_map<std::string, std::vector<NotifyObserver>, NameHash, std::equal_to<>> byName;
    std::vector<std::pair<NotifyMonitorId, NotifyObserver>> monitors;

    bool wants(std::string_view name) const { return !monitors.empty() || byName.find(name) != byName.end(); }
};

struct NotifyConnection::Endpoint {
    ~Endpoint()
    {
        if (selfSender >= 0)
            ::close(selfSender);
    }

    std::string root;
    pid_t pid { 0 };
    uint64_t nonce { 0 };
    // Closed by the delivery thread as it ends.
    int socket { -1 };
    // Connected to socket: the process's own posts and the control messages go through it.
    int selfSender { -1 };

    std::string registrationDirectory;
    ino_t registrationInode { 0 };
    bool registered { false };

    std::mutex lock;
    std::condition_variable condition;
    uint64_t markersSent { 0 };
    uint64_t markersHandled { 0 };
    bool stopping { false };
    bool finished { false };

    // Posts a callback makes to this very process: sending them through the socket could
    // wait on a queue only this thread empties. Touched by the delivery thread alone.
    std::deque<std::string> localPosts;
};

namespace {

// The endpoint whose delivery thread this is, if it is one.
thread_local const void* t_deliveringEndpoint = nullptr;

} // namespace

NotifyConnection& NotifyConnection::shared()
{
    // Never destroyed: the delivery thread may still run while the process exits.
    static auto* connection = new NotifyConnection;
    return *connection;
}

NotifyConnection::NotifyConnection()
    : m_observers(std::make_shared<ObserverTable>())
{
    ::pthread_atfork(
        [] {
            auto& connection = shared();
            connection.m_lock.lock();
            connection.m_registry.lockForFork();
        },
        [] {
            auto& connection = shared();
            connection.m_registry.unlockForFork();
            connection.m_lock.unlock();
        },
        [] {
            auto& connection = shared();
            connection.forgetInForkedChild();
            connection.m_registry.unlockForFork();
            connection.m_lock.unlock();
        });
    std::atexit([] { shared().removeRegistrationAtExit(); });
}

void NotifyConnection::forgetInForkedChild()
{
    // The child is a new process with no delivery thread: it starts with a fresh center. The
    // endpoint is kept but never destroyed, since in our copy of memory the parent's delivery
    // thread still holds it.
    if (m_endpoint) {
        ::close(m_endpoint->socket);
        ::close(m_endpoint->selfSender);
        m_endpoint->selfSender = -1;
        m_endpointsOfParent.push_back(std::move(m_endpoint));
    }
    m_observers = std::make_shared<ObserverTable>();
    m_registry.forgetInForkedChild();
}

void NotifyConnection::addObserver(std::string_view name, NotifyObserver observer)
{
    if (!observer)
        return;
    addToTable([&](ObserverTable& table) { table.byName[std::string(name)].push_back(std::move(observer)); });
}

NotifyMonitorId NotifyConnection::addMonitor(NotifyObserver monitor)
{
    if (!monitor)
        return 0;
    NotifyMonitorId id = m_nextMonitorId.fetch_add(1);
    addToTable([&](ObserverTable& table) { table.monitors.emplace_back(id, std::move(monitor)); });
    return id;
}

void NotifyConnection::removeMonitor(NotifyMonitorId id)
{
    {
        std::lock_guard guard(m_lock);
        auto table = std::make_shared<ObserverTable>(*m_observers);
        std::erase_if(table->monitors, [id](auto& monitor) { return monitor.first == id; });
        m_observers = std::move(table);
    }
    // A delivery that took the old table may be calling the monitor right now: wait it
    // out, unless this is that delivery.
    if (!t_deliveringEndpoint)
        std::lock_guard wait(m_deliveringLock);
}

void NotifyConnection::addToTable(const std::function<void(ObserverTable&)>& change)
{
    auto root = requireDeviceRoot("addObserver");
    std::shared_ptr<Endpoint> retired;
    {
        std::lock_guard guard(m_lock);
        auto table = std::make_shared<ObserverTable>(*m_observers);
        change(*table);
        m_observers = std::move(table);
        if (m_endpoint && m_endpoint->root != root)
            retired = std::move(m_endpoint);
    }
    if (retired)
        closeEndpoint(retired);

    std::string problem;
    {
        std::lock_guard guard(m_lock);
        if (!m_endpoint) {
            auto opened = openEndpoint(root);
            if (!opened)
                problem = opened.error();
            else if (m_endpoint = *opened; !m_endpoint->registered)
                problem = "cannot register in " + root + std::string(notifyRegistryDevicePath)
                    + "; other processes of the device will not reach this one";
        }
    }
    // Logged without the lock: the log's timeline sink may post.
    if (!problem.empty())
        systemLog("notify: " + problem);
}

Platform::Expected<std::shared_ptr<NotifyConnection::Endpoint>> NotifyConnection::openEndpoint(const std::string& root)
{
    auto endpoint = std::make_shared<Endpoint>();
    endpoint->root = root;
    endpoint->pid = ::getpid();
    endpoint->nonce = randomNonce();

    auto address = notifyEndpointAddress(canonicalDeviceRoot(root).value_or(root), endpoint->pid);
    endpoint->socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    // Set before bind, so that no datagram ever arrives without its sender's credentials.
    int passCredentials = 1;
    if (endpoint->socket < 0
        || ::setsockopt(endpoint->socket, SOL_SOCKET, SO_PASSCRED, &passCredentials, sizeof(passCredentials)) < 0
        || ::bind(endpoint->socket, address.socketAddress(), address.length) < 0) {
        int error = errno;
        if (endpoint->socket >= 0)
            ::close(endpoint->socket);
        return Platform::Failure { std::string("cannot open this process's endpoint: ") + std::strerror(error) };
    }
    endpoint->selfSender = connectNotifySender(address);
    if (endpoint->selfSender < 0) {
        int error = errno;
        ::close(endpoint->socket);
        return Platform::Failure { std::string("cannot reach this process's own endpoint: ") + std::strerror(error) };
    }

    try {
        std::thread([this, endpoint] { deliveryLoop(endpoint); }).detach();
    } catch (const std::system_error& error) {
        ::close(endpoint->socket);
        return Platform::Failure { std::string("cannot start the delivery thread: ") + error.what() };
    }

    // Registered only once bound, so a poster that finds the file can always reach the socket
    // unless the process is gone.
    endpoint->registered = writeRegistration(*endpoint);
    return endpoint;
}

void NotifyConnection::closeEndpoint(const std::shared_ptr<Endpoint>& endpoint)
{
    removeRegistration(*endpoint);
    {
        std::lock_guard guard(endpoint->lock);
        endpoint->stopping = true;
    }
    bool fromItsOwnThread = t_deliveringEndpoint == endpoint.get();
    auto quit = notifyControlMessage(NotifyMessageKind::Quit, endpoint->nonce, 0);
    // From its own thread the queue cannot be waited on; the loop ends once the current
    // callback returns.
    if (!sendDatagram(endpoint->selfSender, quit, fromItsOwnThread ? MSG_DONTWAIT : 0))
        ::shutdown(endpoint->socket, SHUT_RD);
    if (fromItsOwnThread)
        return;

    std::unique_lock guard(endpoint->lock);
    if (!endpoint->condition.wait_for(guard, closeTimeout, [&] { return endpoint->finished; }))
        systemLog("notify: the delivery thread did not stop; a callback may be stuck");
}

bool NotifyConnection::writeRegistration(Endpoint& endpoint)
{
    endpoint.registrationDirectory = endpoint.root + std::string(notifyRegistryDevicePath);
    std::error_code error;
    std::filesystem::create_directories(endpoint.registrationDirectory, error);
    int directoryFd = ::open(endpoint.registrationDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (directoryFd < 0)
        return false;

    // Written aside and renamed into place: a poster never sees a half-made registration, and
    // a stale file left by an earlier process with this pid is replaced by a new inode.
    auto name = std::to_string(endpoint.pid);
    auto temporaryName = "." + name + "." + std::to_string(endpoint.nonce);
    int fd = ::openat(directoryFd, temporaryName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    bool registered = false;
    if (fd >= 0) {
        auto contents = systemLogProcessName() + "\n";
        bool written = ::write(fd, contents.data(), contents.size()) == static_cast<ssize_t>(contents.size());
        ::close(fd);
        struct stat status;
        if (written && ::renameat(directoryFd, temporaryName.c_str(), directoryFd, name.c_str()) == 0
            && ::fstatat(directoryFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
            endpoint.registrationInode = status.st_ino;
            registered = true;
        } else
            ::unlinkat(directoryFd, temporaryName.c_str(), 0);
    }
    ::close(directoryFd);
    return registered;
}

void NotifyConnection::removeRegistration(const Endpoint& endpoint)
{
    if (!endpoint.registrationInode)
        return;
    int directoryFd = ::open(endpoint.registrationDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (directoryFd < 0)
        return;
    auto name = std::to_string(endpoint.pid);
    struct stat status;
    if (::fstatat(directoryFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0
        && status.st_ino == endpoint.registrationInode)
        ::unlinkat(directoryFd, name.c_str(), 0);
    ::close(directoryFd);
}

void NotifyConnection::removeRegistrationAtExit()
{
    std::lock_guard guard(m_lock);
    // A forked child that exits without exec runs its parent's handlers too.
    if (m_endpoint && m_endpoint->pid == ::getpid())
        removeRegistration(*m_endpoint);
}

void NotifyConnection::deliveryLoop(const std::shared_ptr<Endpoint>& endpoint)
{
    t_deliveringEndpoint = endpoint.get();
    ::pthread_setname_np(::pthread_self(), "notify");

    // Room for the longest message; a longer one is dropped whole.
    char buffer[maximumNotifyMessageSize];
    NotifyDropCounter drops;
    for (;;) {
        auto received = receiveDatagram(endpoint->socket, buffer, sizeof(buffer), drops.flushTimeoutMilliseconds());
        if (received.status == ReceiveStatus::Failed)
            break;
        if (received.status == ReceiveStatus::TimedOut) {
            drops.flushIfDue();
            continue;
        }
        if (received.status == ReceiveStatus::ShutDown) {
            std::lock_guard guard(endpoint->lock);
            if (endpoint->stopping)
                break;
            continue;
        }
        // Abstract sockets have no permissions: any process on the machine can send here, and
        // only the user's own processes may post to it.
        if (!received.fromOwnUser) {
            drops.dropForeign();
            continue;
        }
        auto message = received.length <= sizeof(buffer) ? decodeNotifyMessage(std::string_view(buffer, received.length))
                                                         : std::nullopt;
        if (!message) {
            drops.dropMalformed();
            continue;
        }

        if (message->kind == NotifyMessageKind::Post) {
            deliver(*endpoint, message->name);
            while (!endpoint->localPosts.empty()) {
                auto local = std::move(endpoint->localPosts.front());
                endpoint->localPosts.pop_front();
                deliver(*endpoint, local);
            }
            continue;
        }
        // Control messages come from this process alone; one without its nonce is stale.
        if (message->nonce != endpoint->nonce)
            continue;
        if (message->kind == NotifyMessageKind::Quit)
            break;
        if (message->kind == NotifyMessageKind::Marker) {
            std::lock_guard guard(endpoint->lock);
            endpoint->markersHandled = std::max(endpoint->markersHandled, message->sequence);
            endpoint->condition.notify_all();
        }
    }
    drops.flush();

    ::close(endpoint->socket);
    std::lock_guard guard(endpoint->lock);
    endpoint->finished = true;
    endpoint->condition.notify_all();
}

void NotifyConnection::deliver(Endpoint& endpoint, std::string_view name)
{
    std::shared_ptr<const ObserverTable> table;
    {
        std::lock_guard guard(m_lock);
        // A retired endpoint delivers nothing more.
        if (m_endpoint.get() != &endpoint)
            return;
        table = m_observers;
    }
    // Callbacks run without the lock, so they may post, observe, or drain.
    std::lock_guard delivering(m_deliveringLock);
    if (auto found = table->byName.find(name); found != table->byName.end()) {
        for (auto& observer : found->second)
            observer(name);
    }
    for (auto& [id, monitor] : table->monitors)
        monitor(name);
}

bool NotifyConnection::post(std::string_view name)
{
    if (!isValidNotificationName(name))
        return false;
    auto root = requireDeviceRoot("post");
    timeline("post " + std::string(name));

    std::string datagram = notifyPostMessage(name);

    std::shared_ptr<Endpoint> own;
    bool ownInterested = false;
    {
        std::lock_guard guard(m_lock);
        if (m_endpoint && m_endpoint->root == root) {
            own = m_endpoint;
            ownInterested = m_observers->wants(name);
        }
    }
    pid_t excluded = 0;
    if (own) {
        // The poster's own observers are reached directly; its registration is skipped below.
        excluded = own->pid;
        if (ownInterested) {
            if (t_deliveringEndpoint == own.get())
                own->localPosts.emplace_back(name);
            else if (!sendDatagram(own->selfSender, datagram))
                systemLog("notify: cannot deliver " + std::string(name) + " to this process: " + std::strerror(errno));
        }
    }
    m_registry.send(root, datagram, name, excluded);
    return true;
}

void NotifyConnection::drainDeliveries()
{
    std::shared_ptr<Endpoint> own;
    {
        std::lock_guard guard(m_lock);
        own = m_endpoint;
    }
    // From a callback, the thread that would have to drain is the caller itself.
    if (!own || t_deliveringEndpoint == own.get())
        return;

    uint64_t sequence;
    {
        std::lock_guard guard(own->lock);
        sequence = ++own->markersSent;
    }
    // Datagrams are taken in order, so once the marker is handled so is everything before it.
    if (!sendDatagram(own->selfSender, notifyControlMessage(NotifyMessageKind::Marker, own->nonce, sequence)))
        return;
    std::unique_lock guard(own->lock);
    own->condition.wait_for(guard, drainTimeout, [&] { return own->markersHandled >= sequence || own->finished; });
}

void NotifyConnection::reset()
{
    std::shared_ptr<Endpoint> retired;
    {
        std::lock_guard guard(m_lock);
        retired = std::move(m_endpoint);
        m_observers = std::make_shared<ObserverTable>();
    }
    if (retired)
        closeEndpoint(retired);
    m_registry.forget();
}

} // namespace Platform
