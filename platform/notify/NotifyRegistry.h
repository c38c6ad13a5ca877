// The posting side of notifications: the endpoints registered on a device, each with a
// connected socket, read from the registry directory again only when inotify reports that it
// changed.
#pragma once

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
    // Whether the directory is watched now.
    bool startWatching();
    void stopWatching();
    // Reads every pending change event of the directory; whether there was any.
    bool takeDirectoryEvents();
    static SendResult sendTo(Peer&, std::string_view datagram);
    void removeStaleRegistration(const std::string& directory, pid_t, ino_t);

    std::mutex m_lock;
    std::string m_root;
    std::string m_canonicalRoot;
    bool m_canonicalRootResolved { false };
    std::string m_directory;
    bool m_listed { false };
    std::vector<std::shared_ptr<Peer>> m_peers;
    int m_inotify { -1 };
    bool m_inotifyUnavailable { false };
    int m_watch { -1 };
};

} // namespace Platform
