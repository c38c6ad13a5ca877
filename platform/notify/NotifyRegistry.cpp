#include "platform/notify/NotifyRegistry.h"

#include "platform/log/SystemLog.h"
#include "platform/notify/NotifyAddress.h"

#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <csignal>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace Platform {

namespace {

// A device runs a handful of processes; a registry holding more entries than this is not
// ours to trust, and the rest is ignored.
constexpr size_t maximumEndpoints = 4096;

bool isRefusal(int error)
{
    return error == ECONNREFUSED || error == ENOENT || error == ENOTCONN || error == ECONNRESET || error == EPIPE;
}

} // namespace

struct NotifyRegistry::Peer {
    Peer(pid_t pid, ino_t inode, int socket, NotifyAddress address)
        : pid(pid)
        , inode(inode)
        , socket(socket)
        , address(address)
    {
    }
    ~Peer() { ::close(socket); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    const pid_t pid;
    const ino_t inode;
    const int socket;
    const NotifyAddress address;
    std::atomic<bool> stalled { false };
    std::atomic<bool> gone { false };
};

void NotifyRegistry::send(const std::string& root, std::string_view datagram, std::string_view name, pid_t excludedPid)
{
    for (auto& peer : peersFor(root)) {
        if (peer->pid == excludedPid)
            continue;
        auto result = sendTo(*peer, datagram);
        if (result == SendResult::Refused) {
            // Its socket is closed. The same name may already be bound again (the process
            // started over on this device); otherwise the process is gone.
            peer->gone = true;
            int fresh = connectNotifySender(peer->address);
            if (fresh < 0) {
                if (isRefusal(errno)) {
                    std::lock_guard guard(m_lock);
                    if (root == m_root)
                        removeStaleRegistration(m_directory, peer->pid, peer->inode);
                }
                continue;
            }
            Peer replacement(peer->pid, peer->inode, fresh, peer->address);
            result = sendTo(replacement, datagram);
        }
        if (result == SendResult::TimedOut) {
            systemLog("notify: process " + std::to_string(peer->pid) + " has not read its notifications for "
                + std::to_string(notifySendTimeoutMilliseconds / 1000) + " s; dropping " + std::string(name)
                + " and later posts to it until it reads again");
        }
    }
}

NotifyRegistry::SendResult NotifyRegistry::sendTo(Peer& peer, std::string_view datagram)
{
    for (;;) {
        bool stalled = peer.stalled.load(std::memory_order_relaxed);
        ssize_t sent
            = ::send(peer.socket, datagram.data(), datagram.size(), MSG_NOSIGNAL | (stalled ? MSG_DONTWAIT : 0));
        if (sent >= 0) {
            if (stalled)
                peer.stalled.store(false, std::memory_order_relaxed);
            return SendResult::Sent;
        }
        int error = errno;
        if (error == EINTR)
            continue;
        if (error == EAGAIN || error == EWOULDBLOCK)
            return peer.stalled.exchange(true) ? SendResult::Dropped : SendResult::TimedOut;
        return isRefusal(error) ? SendResult::Refused : SendResult::Failed;
    }
}

std::vector<std::shared_ptr<NotifyRegistry::Peer>> NotifyRegistry::peersFor(const std::string& root)
{
    std::lock_guard guard(m_lock);
    if (root != m_root || !m_canonicalRootResolved) {
        // A root that could not be resolved (it does not exist yet) is tried again next time.
        auto canonical = canonicalDeviceRoot(root);
        m_canonicalRootResolved = canonical.has_value();
        if (root != m_root || canonical.value_or(root) != m_canonicalRoot) {
            m_root = root;
            m_canonicalRoot = canonical.value_or(root);
            m_directory = root + std::string(notifyRegistryDevicePath);
            m_peers.clear();
            m_listed = false;
            stopWatching();
        }
    }

    bool fresh = m_listed;
    for (auto& peer : m_peers) {
        if (peer->gone)
            fresh = false;
    }
    // Watched, the listing stays good until the directory reports a change: no system call
    // but one read that finds nothing.
    if (m_watch >= 0) {
        if (takeDirectoryEvents())
            fresh = false;
        if (fresh && m_watch >= 0)
            return m_peers;
    }

    struct stat status;
    // Never through a symbolic link: the registry is the device's own directory.
    if (::lstat(m_directory.c_str(), &status) < 0 || !S_ISDIR(status.st_mode)) {
        m_peers.clear();
        m_listed = false;
        stopWatching();
        return {};
    }
    // Not watched (no inotify instance to be had): read every time.
    if (m_watch < 0)
        startWatching();
    readDirectory(m_directory);
    return m_peers;
}

bool NotifyRegistry::startWatching()
{
    if (m_inotify < 0 && !m_inotifyUnavailable) {
        m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        // Instances are limited per user; without one, the directory is read for every post.
        m_inotifyUnavailable = m_inotify < 0;
    }
    if (m_inotify < 0)
        return false;
    // Added before the directory is read, so no change after the read can go unseen.
    m_watch = ::inotify_add_watch(m_inotify, m_directory.c_str(),
        IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR
            | IN_DONT_FOLLOW | IN_EXCL_UNLINK);
    takeDirectoryEvents();
    return m_watch >= 0;
}

void NotifyRegistry::stopWatching()
{
    if (m_watch < 0)
        return;
    ::inotify_rm_watch(m_inotify, m_watch);
    m_watch = -1;
    takeDirectoryEvents();
}

bool NotifyRegistry::takeDirectoryEvents()
{
    alignas(inotify_event) char buffer[4096];
    bool changed = false;
    for (;;) {
        ssize_t length = ::read(m_inotify, buffer, sizeof(buffer));
        if (length <= 0)
            return changed;
        changed = true;
        for (ssize_t offset = 0; offset + static_cast<ssize_t>(sizeof(inotify_event)) <= length;) {
            auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            // The directory itself went away or moved: the path may name another one now.
            if (event->wd == m_watch && (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT))) {
                ::inotify_rm_watch(m_inotify, m_watch);
                m_watch = -1;
            }
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

void NotifyRegistry::readDirectory(const std::string& directory)
{
    std::unordered_map<pid_t, std::shared_ptr<Peer>> previous;
    for (auto& peer : m_peers) {
        if (!peer->gone)
            previous.emplace(peer->pid, peer);
    }
    m_peers.clear();
    m_listed = false;

    int directoryFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (directoryFd < 0)
        return;
    DIR* stream = ::fdopendir(directoryFd);
    if (!stream) {
        ::close(directoryFd);
        return;
    }

    std::vector<std::pair<pid_t, ino_t>> stale;
    while (m_peers.size() < maximumEndpoints) {
        errno = 0;
        dirent* entry = ::readdir(stream);
        if (!entry)
            break;
        if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN)
            continue;
        pid_t pid = pidFromRegistrationName(entry->d_name);
        if (!pid)
            continue;
        if (auto found = previous.find(pid); found != previous.end() && found->second->inode == entry->d_ino) {
            m_peers.push_back(found->second);
            continue;
        }
        auto address = notifyEndpointAddress(m_canonicalRoot, pid);
        int socket = connectNotifySender(address);
        if (socket < 0) {
            if (isRefusal(errno))
                stale.emplace_back(pid, entry->d_ino);
            continue;
        }
        m_peers.push_back(std::make_shared<Peer>(pid, entry->d_ino, socket, address));
    }
    ::closedir(stream);
    m_listed = true;

    for (auto [pid, inode] : stale)
        removeStaleRegistration(directory, pid, inode);
}

void NotifyRegistry::removeStaleRegistration(const std::string& directory, pid_t pid, ino_t inode)
{
    int directoryFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (directoryFd < 0)
        return;
    auto name = std::to_string(pid);
    struct stat status;
    // Only the very file found stale: a process that took over the pid has written a new one.
    if (::fstatat(directoryFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && status.st_ino == inode)
        ::unlinkat(directoryFd, name.c_str(), 0);
    ::close(directoryFd);
}

void NotifyRegistry::forget()
{
    std::lock_guard guard(m_lock);
    stopWatching();
    m_peers.clear();
    m_listed = false;
    m_root.clear();
    m_canonicalRoot.clear();
    m_canonicalRootResolved = false;
}

void NotifyRegistry::forgetInForkedChild()
{
    // Only the forking thread exists in the child: no send can hold a peer.
    if (m_inotify >= 0)
        ::close(m_inotify);
    m_inotify = -1;
    m_watch = -1;
    m_peers.clear();
    m_listed = false;
    m_root.clear();
    m_canonicalRoot.clear();
    m_canonicalRootResolved = false;
}

void removeDeadNotifyRegistrations(const std::string& deviceRoot)
{
    std::string directory = deviceRoot + std::string(notifyRegistryDevicePath);
    int directoryFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (directoryFd < 0)
        return;
    DIR* stream = ::fdopendir(directoryFd);
    if (!stream) {
        ::close(directoryFd);
        return;
    }
    while (dirent* entry = ::readdir(stream)) {
        pid_t pid = pidFromRegistrationName(entry->d_name);
        if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH)
            ::unlinkat(::dirfd(stream), entry->d_name, 0);
    }
    ::closedir(stream);
}

} // namespace Platform
