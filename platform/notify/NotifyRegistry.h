// The posting side of notifications: the endpoints registered on a device, each with a
// connected socket, read from the registry directory again only when it changes.
#pragma once

#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace Platform {

class NotifyRegistry {
public:
    NotifyRegistry() = default;
    NotifyRegistry(const NotifyRegistry&) = delete;
    NotifyRegistry& operator=(const NotifyRegistry&) = delete;

    // Sends the datagram (a post of name) to every endpoint registered on the device whose
    // root is given, except excludedPid's (0 for none). Blocks while a receiver's queue is
    // full, for a few seconds at most; a receiver that stays full past that is taken as stuck,
    // and posts to it are dropped without waiting until it reads again. The registration of
    // a process that is gone is removed, so it costs nothing afterwards. Thread-safe.
    void send(const std::string& root, std::string_view datagram, std::string_view name, pid_t excludedPid);

    // Drops every cached endpoint.
    void forget();

    // Held across fork() so the child never inherits the lock taken; the child then forgets.
    void lockForFork() { m_lock.lock(); }
    void unlockForFork() { m_lock.unlock(); }
    void forgetInForkedChild();

private:
    struct Peer;
    enum class SendResult { Sent, TimedOut, Dropped, Refused, Failed };

    std::vector<std::shared_ptr<Peer>> peersFor(const std::string& root);
    void readDirectory(const std::string& directory);
    static SendResult sendTo(Peer&, std::string_view datagram);
    void removeStaleRegistration(const std::string& directory, pid_t, ino_t);

    std::mutex m_lock;
    std::string m_root;
    std::string m_canonicalRoot;
    bool m_canonicalRootResolved { false };
    std::string m_directory;
    bool m_listed { false };
    dev_t m_directoryDevice { 0 };
    ino_t m_directoryInode { 0 };
    timespec m_directoryModified { };
    timespec m_listedAt { };
    std::vector<std::shared_ptr<Peer>> m_peers;
};

} // namespace Platform
