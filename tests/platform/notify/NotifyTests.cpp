#include "PeerProcess.h"
#include "platform/system/TemporaryDevice.h"
#include "platform/system/TimelineRecorder.h"

#include "platform/log/SystemLog.h"
#include "platform/notify/Notify.h"
#include "platform/notify/NotifyAddress.h"
#include "platform/notify/NotifyTesting.h"

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <regex>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <atomic>
#include <chrono>
#include <thread>
#include <unistd.h>

using namespace Platform;
using namespace std::chrono_literals;

namespace {

// Records deliveries in order, with the threads they ran on.
class Deliveries {
public:
    NotifyObserver observer(std::string tag = {})
    {
        return [this, tag](std::string_view name) {
            std::lock_guard guard(m_lock);
            m_names.push_back(tag + std::string(name));
            m_threads.push_back(std::this_thread::get_id());
            m_changed.notify_all();
        };
    }

    bool waitForCount(size_t count, std::chrono::milliseconds timeout = 10s)
    {
        std::unique_lock guard(m_lock);
        return m_changed.wait_for(guard, timeout, [&] { return m_names.size() >= count; });
    }

    std::vector<std::string> names()
    {
        std::lock_guard guard(m_lock);
        return m_names;
    }

    std::vector<std::thread::id> threads()
    {
        std::lock_guard guard(m_lock);
        return m_threads;
    }

    size_t count(std::string_view name)
    {
        auto all = names();
        return static_cast<size_t>(std::count(all.begin(), all.end(), name));
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::string> m_names;
    std::vector<std::thread::id> m_threads;
};

class NotifyTest : public testing::Test {
protected:
    void SetUp() override { resetNotifyForTesting(); }
    void TearDown() override { resetNotifyForTesting(); }

    std::string registration(pid_t pid) const { return m_device.root() + "/var/run/notify/" + std::to_string(pid); }

    TemporaryDevice m_device;
};

// A second device beside the test's own, not made this process's device.
class OtherDevice {
public:
    OtherDevice()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-device-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary device");
        m_root = pattern;
    }
    ~OtherDevice() { std::filesystem::remove_all(m_root); }
    const std::string& root() const { return m_root; }

private:
    std::string m_root;
};

} // namespace

// A post reaches an observer in another process of the device; object and user info arrive null.
TEST_F(NotifyTest, PostReachesAnotherProcessWithNullObjectAndUserInfo)
{
    PeerProcess observer(m_device.root(), { "com.kestrel.hello" });
    PeerProcess poster(m_device.root(), {});
    poster.command("post-cf com.kestrel.hello");
    ASSERT_TRUE(poster.waitForLine("posted"));
    EXPECT_TRUE(observer.waitForLine("got com.kestrel.hello object=null info=null"));
    EXPECT_TRUE(observer.drainedDeliveries().empty()) << "delivered once";
}

// The poster's own observers are called too, on a delivery thread rather than the caller's.
TEST_F(NotifyTest, PosterOwnObserversRunOnTheDeliveryThread)
{
    Deliveries deliveries;
    addNotifyObserver("com.kestrel.self", deliveries.observer());
    EXPECT_TRUE(postNotification("com.kestrel.self"));
    ASSERT_TRUE(deliveries.waitForCount(1));
    EXPECT_NE(deliveries.threads().front(), std::this_thread::get_id());
}

// Names match byte for byte: letter case, one character more, less or different match nothing.
TEST_F(NotifyTest, NamesMatchExactly)
{
    Deliveries observed;
    Deliveries everything;
    addNotifyObserver("com.kestrel.Respring", observed.observer());
    addNotifyMonitor(everything.observer());
    for (auto name : { "com.kestrel.respring", "com.kestrel.Respring ", "com.kestrel.Respr1ng", "com.kestrel.Respr",
             "COM.KESTREL.RESPRING" })
        postNotification(name);
    EXPECT_FALSE(postNotification(std::string_view("com.kestrel.Respring\0x", 22))) << "a NUL is no part of a name";
    drainNotifyDeliveries();
    EXPECT_EQ(everything.names().size(), 5u);
    EXPECT_TRUE(observed.names().empty());

    PeerProcess peer(m_device.root(), { "com.kestrel.Respring" });
    postNotification("com.kestrel.respring");
    postNotification("com.kestrel.Respring");
    EXPECT_EQ(peer.drainedDeliveries(), std::vector<std::string> { "com.kestrel.Respring object=null info=null" });
}

// No coalescing: every post reaches every observer of the name, in the order posted.
TEST_F(NotifyTest, EveryPostReachesEveryObserverInOrder)
{
    Deliveries deliveries;
    addNotifyObserver("a", deliveries.observer("1:"));
    addNotifyObserver("a", deliveries.observer("2:"));
    addNotifyObserver("b", deliveries.observer("1:"));
    for (auto name : { "a", "b", "a", "a" })
        postNotification(name);
    drainNotifyDeliveries();
    EXPECT_EQ(deliveries.names(), (std::vector<std::string> { "1:a", "2:a", "1:b", "1:a", "2:a", "1:a", "2:a" }));
}

// Two devices side by side never see each other's posts; a symlink to a device is that device.
TEST_F(NotifyTest, DevicesAreIsolated)
{
    OtherDevice other;
    PeerProcess here(m_device.root(), { "shared" });
    PeerProcess there(other.root(), { "shared" });

    postNotification("shared");
    there.command("post shared");
    ASSERT_TRUE(there.waitForLine("posted"));
    EXPECT_EQ(here.drainedDeliveries().size(), 1u);
    EXPECT_EQ(there.drainedDeliveries().size(), 1u) << "its own post only";

    auto alias = other.root() + "/alias";
    std::filesystem::create_directory_symlink(m_device.root(), alias);
    setDeviceRoot(alias);
    postNotification("shared");
    EXPECT_EQ(here.drainedDeliveries().size(), 1u);
    EXPECT_TRUE(there.drainedDeliveries().empty());
}

// An observing process announces itself in var/run/notify and leaves no registration behind
// when it ends normally or is reset.
TEST_F(NotifyTest, RegistrationFollowsTheProcessLife)
{
    addNotifyObserver("x", [](std::string_view) {});
    EXPECT_TRUE(std::filesystem::exists(registration(::getpid())));
    resetNotifyForTesting();
    EXPECT_FALSE(std::filesystem::exists(registration(::getpid())));

    pid_t peerPid;
    {
        PeerProcess peer(m_device.root(), { "x" });
        peerPid = peer.pid();
        EXPECT_TRUE(std::filesystem::exists(registration(peerPid)));
    }
    EXPECT_FALSE(std::filesystem::exists(registration(peerPid)));
}

// A process killed while observing leaves a registration; the next post removes it, and
// neither that process nor junk in the registry slows or breaks later posts.
TEST_F(NotifyTest, DeadObserverIsCleanedUpByTheNextPost)
{
    PeerProcess peer(m_device.root(), { "x" });
    peer.signal(SIGKILL);
    ASSERT_TRUE(peer.waitForExit());
    ASSERT_TRUE(std::filesystem::exists(registration(peer.pid())));
    for (auto junk : { "abc", "0", "-1", "0123", "99999999999", ".123" })
        m_device.writeFile(std::string("/var/run/notify/") + junk, "");
    std::filesystem::create_directory(m_device.root() + "/var/run/notify/123456");

    EXPECT_TRUE(postNotification("x"));
    EXPECT_FALSE(std::filesystem::exists(registration(peer.pid())));

    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 200; ++i)
        postNotification("x");
    // Generous: a dead endpoint that cost even a short timeout per post would take minutes.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
}

// A receiver that stops reading costs its posters one send timeout, not one per post, and
// gets posts again once it reads again.
TEST_F(NotifyTest, StuckReceiverDoesNotHangPosters)
{
    PeerProcess peer(m_device.root(), { "flood", "after" }, true);
    peer.signal(SIGSTOP);
    ASSERT_TRUE(peer.waitUntilStopped());
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 200; ++i)
        postNotification("flood");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    peer.signal(SIGCONT);

    bool reached = false;
    for (auto deadline = std::chrono::steady_clock::now() + 10s;
         !reached && std::chrono::steady_clock::now() < deadline;) {
        postNotification("after");
        reached = peer.count("after") > 0;
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(reached);
    auto log = readSystemLog();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(),
        [](auto& line) { return line.find("has not read its notifications") != std::string::npos; }));
}

// drainNotifyDeliveries returns only once everything that had reached the process is handled.
TEST_F(NotifyTest, DrainWaitsForEveryArrivedPost)
{
    drainNotifyDeliveries(); // nothing observed yet: returns at once

    std::atomic<int> handled { 0 };
    addNotifyObserver("slow", [&](std::string_view) {
        std::this_thread::sleep_for(2ms);
        ++handled;
    });
    PeerProcess peer(m_device.root(), {});
    peer.command("post slow 50");
    ASSERT_TRUE(peer.waitForLine("posted"));
    drainNotifyDeliveries();
    EXPECT_EQ(handled.load(), 50);

    // From inside a callback it would wait on itself; it returns instead.
    Deliveries done;
    addNotifyObserver("drain-inside", [&](std::string_view name) {
        drainNotifyDeliveries();
        done.observer()(name);
    });
    postNotification("drain-inside");
    EXPECT_TRUE(done.waitForCount(1));
}

// A monitor sees every name posted on the device, by any process, observed or not.
TEST_F(NotifyTest, MonitorSeesEveryName)
{
    Deliveries monitor;
    addNotifyMonitor(monitor.observer());
    PeerProcess peer(m_device.root(), {});
    peer.command("post m.one");
    peer.command("post m.two");
    ASSERT_TRUE(peer.waitForLine("posted") && peer.waitForLine("posted"));
    postNotification("m.three");
    drainNotifyDeliveries();
    EXPECT_EQ(monitor.names(), (std::vector<std::string> { "m.one", "m.two", "m.three" }));
}

// A removed monitor is never called again: removal waits out a callback that is running, and
// a monitor may remove itself from inside its own callback without waiting on itself.
TEST_F(NotifyTest, ARemovedMonitorHearsNothingMore)
{
    std::atomic<bool> inCallback { false };
    std::atomic<bool> releaseCallback { false };
    std::atomic<int> calls { 0 };
    auto slow = addNotifyMonitor([&](std::string_view) {
        ++calls;
        inCallback = true;
        while (!releaseCallback)
            std::this_thread::yield();
        inCallback = false;
    });
    postNotification("m.slow");
    while (!inCallback)
        std::this_thread::yield();
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        releaseCallback = true;
    });
    removeNotifyMonitor(slow);
    EXPECT_FALSE(inCallback) << "removal returned while the monitor was still running";
    releaser.join();
    postNotification("m.after");
    drainNotifyDeliveries();
    EXPECT_EQ(calls, 1);

    std::atomic<NotifyMonitorId> self { 0 };
    std::atomic<int> selfCalls { 0 };
    self = addNotifyMonitor([&](std::string_view) {
        ++selfCalls;
        removeNotifyMonitor(self);
    });
    postNotification("m.first");
    postNotification("m.second");
    drainNotifyDeliveries();
    EXPECT_EQ(selfCalls, 1);
}

// Names are text: empty, over-long, non-UTF-8 and NUL-holding names are refused at post time;
// the longest allowed name and names with line breaks or any characters arrive intact; each post
// is on the timeline.
TEST_F(NotifyTest, NameLimitsAndTimeline)
{
    TimelineRecorder timeline;
    Deliveries monitor;
    addNotifyMonitor(monitor.observer());
    std::string longest(maximumNotificationNameLength, 'n');
    std::string text("line\nbreak\ttab \xc3\xa9\xf0\x9f\x98\x80");
    for (const auto& refused : { std::string(), longest + "n", std::string("nul\0inside", 10), std::string("bad\xff"),
             std::string("\xed\xa0\x80"), std::string("\xc0\x80") })
        EXPECT_FALSE(postNotification(refused)) << testing::PrintToString(refused);
    EXPECT_TRUE(postNotification(longest));
    EXPECT_TRUE(postNotification(text));
    drainNotifyDeliveries();
    EXPECT_EQ(monitor.names(), (std::vector<std::string> { longest, text }));
    EXPECT_EQ(timeline.events(), (std::vector<std::string> { "post " + longest, "post " + text }));
}

namespace {

// The drops the system log reports ("malformed" or "another user"), added up, and the number of
// drop lines.
std::pair<uint64_t, size_t> loggedDrops(std::string_view what)
{
    static const std::regex malformed("notify: dropped (\\d+) malformed messages?");
    static const std::regex foreign("(\\d+) messages? from another user");
    uint64_t total = 0;
    size_t lines = 0;
    for (auto& line : readSystemLog()) {
        if (line.find("notify: dropped ") == std::string::npos)
            continue;
        ++lines;
        std::smatch match;
        if (std::regex_search(line, match, what == "malformed" ? malformed : foreign))
            total += std::stoull(match[1]);
    }
    return { total, lines };
}

// Whether this process has a descriptor open on the file.
bool holdsOpen(const std::string& path)
{
    for (auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) == path)
            return true;
    }
    return false;
}

} // namespace

// Every datagram that is not a well-formed message (empty, too long, an unknown kind, a name
// that is not text, a control message of the wrong size) is dropped whole and counted in the
// system log, one line a second at most however many arrive. Control messages without the
// endpoint's nonce are ignored, descriptors passed along are closed, and the endpoint keeps
// working.
TEST_F(NotifyTest, MalformedDatagramsAreDroppedAndCountedAtMostOnceASecond)
{
    Deliveries monitor;
    addNotifyMonitor(monitor.observer());
    auto address = notifyEndpointAddress(canonicalDeviceRoot(m_device.root()).value(), ::getpid());
    int sender = connectNotifySender(address);
    ASSERT_GE(sender, 0);
    using namespace std::string_literals;
    std::vector<std::string> malformed { ""s, "P"s, std::string(5000, 'P'), "P"s + std::string(1025, 'n'),
        "Pnul\0inside"s, "Pbad\xff"s, "P\xc0\x80"s, "P\xed\xa0\x80"s, "Xunknown"s, "Q"s, "M"s + std::string(20, '\0'),
        notifyControlMessage(NotifyMessageKind::Quit, 1, 0).substr(1) };
    constexpr int rounds = 20;
    for (int round = 0; round < rounds; ++round) {
        for (const auto& junk : malformed)
            ASSERT_EQ(::send(sender, junk.data(), junk.size(), 0), static_cast<ssize_t>(junk.size()));
        for (auto kind : { NotifyMessageKind::Quit, NotifyMessageKind::Marker }) {
            auto stale = notifyControlMessage(kind, 1, 99);
            ::send(sender, stale.data(), stale.size(), 0);
        }
    }

    // A well-formed post that carries a descriptor: delivered, and the descriptor not kept.
    std::string passedFile = m_device.root() + "/passed-descriptor";
    int passed = ::open(passedFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(passed, 0);
    std::string post = notifyPostMessage("with-descriptor");
    iovec data { post.data(), post.size() };
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] {};
    msghdr header {};
    header.msg_iov = &data;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof(control);
    cmsghdr* rights = CMSG_FIRSTHDR(&header);
    rights->cmsg_level = SOL_SOCKET;
    rights->cmsg_type = SCM_RIGHTS;
    rights->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(rights), &passed, sizeof(int));
    ASSERT_EQ(::sendmsg(sender, &header, 0), static_cast<ssize_t>(post.size()));
    ::close(passed);
    ::close(sender);

    postNotification("still-working");
    ASSERT_TRUE(monitor.waitForCount(2));
    drainNotifyDeliveries();
    EXPECT_EQ(monitor.names(), (std::vector<std::string> { "with-descriptor", "still-working" }));
    EXPECT_FALSE(holdsOpen(std::filesystem::canonical(passedFile).string())) << "a passed descriptor was kept open";

    uint64_t expected = rounds * malformed.size();
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (loggedDrops("malformed").first < expected && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    auto [dropped, lines] = loggedDrops("malformed");
    EXPECT_EQ(dropped, expected);
    // The first drop is reported at once, the rest of the burst one second later.
    EXPECT_GE(lines, 1u);
    EXPECT_LE(lines, 2u);
    EXPECT_EQ(loggedDrops("another user").first, 0u);
}

// Abstract sockets have no permissions, so any user of the machine can reach an endpoint: what
// another user's process sends is dropped, even a well-formed post, and counted in the log.
TEST_F(NotifyTest, PostsFromAnotherUserAreDroppedAndCounted)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "sending as another user needs root";
    Deliveries monitor;
    addNotifyMonitor(monitor.observer());
    auto address = notifyEndpointAddress(canonicalDeviceRoot(m_device.root()).value(), ::getpid());
    std::string post = notifyPostMessage("from-nobody");

    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (!child) {
        // Raw system calls: only this thread exists in the child, and only it must change.
        constexpr long nobody = 65534;
        if (::syscall(SYS_setgroups, 0, nullptr) || ::syscall(SYS_setresgid, nobody, nobody, nobody)
            || ::syscall(SYS_setresuid, nobody, nobody, nobody))
            ::_exit(2);
        int socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (socket < 0 || ::connect(socket, address.socketAddress(), address.length) < 0)
            ::_exit(3);
        for (int i = 0; i < 3; ++i) {
            if (::send(socket, post.data(), post.size(), 0) != static_cast<ssize_t>(post.size()))
                ::_exit(4);
        }
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other user's process failed";

    postNotification("from-us");
    ASSERT_TRUE(monitor.waitForCount(1));
    drainNotifyDeliveries();
    EXPECT_EQ(monitor.names(), std::vector<std::string> { "from-us" });

    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (loggedDrops("another user").first < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(loggedDrops("another user").first, 3u);
    EXPECT_EQ(loggedDrops("malformed").first, 0u);
}

// Callbacks may post (also to their own process) and add observers without deadlock; posts
// from many threads at once all arrive.
TEST_F(NotifyTest, ConcurrentUse)
{
    Deliveries deliveries;
    addNotifyObserver("first", [&](std::string_view) {
        addNotifyObserver("third", deliveries.observer());
        postNotification("second");
    });
    addNotifyObserver("second", deliveries.observer());
    postNotification("first");
    ASSERT_TRUE(deliveries.waitForCount(1));
    postNotification("third");
    ASSERT_TRUE(deliveries.waitForCount(2));
    EXPECT_EQ(deliveries.names(), (std::vector<std::string> { "second", "third" }));

    std::vector<std::thread> posters;
    for (int thread = 0; thread < 4; ++thread)
        posters.emplace_back([] {
            for (int i = 0; i < 250; ++i)
                postNotification("third");
        });
    for (auto& poster : posters)
        poster.join();
    drainNotifyDeliveries();
    EXPECT_EQ(deliveries.count("third"), 1001u);
}

// A forked child may post to its parent, and its exit leaves the parent's registration alone.
TEST_F(NotifyTest, ForkedChildKeepsParentRegistration)
{
    Deliveries deliveries;
    addNotifyObserver("from-child", deliveries.observer());
    pid_t child = ::fork();
    if (!child) {
        postNotification("from-child");
#if defined(__SANITIZE_ADDRESS__)
        // LeakSanitizer's check at exit can hang in the forked child of a threaded process.
        ::_exit(0);
#else
        std::exit(0); // runs the exit handlers the child inherited
#endif
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(deliveries.waitForCount(1));
    EXPECT_TRUE(std::filesystem::exists(registration(::getpid())));
}

// Notifications belong to a device: without a device root there is nothing to post to.
TEST(NotifyWithoutDevice, IsAProgrammerError)
{
    clearDeviceRoot();
    EXPECT_THROW(postNotification("x"), std::logic_error);
    EXPECT_THROW(addNotifyObserver("x", [](std::string_view) {}), std::logic_error);
}

// Reliability: 10,000 posts in a burst from another process arrive exactly once each, and so
// do 10,000 posts to another process.
TEST_F(NotifyTest, TenThousandPostsAllArriveOnce)
{
    constexpr int burst = 10000;
    Deliveries deliveries;
    std::atomic<int> received { 0 };
    addNotifyObserver("burst", [&](std::string_view) { ++received; });
    addNotifyObserver("burst-done", deliveries.observer());
    PeerProcess peer(m_device.root(), { "burst-back" }, true);

    peer.command("post burst " + std::to_string(burst));
    peer.command("post burst-done");
    ASSERT_TRUE(deliveries.waitForCount(1, 60s));
    int fromPeer = received.load();
    EXPECT_EQ(fromPeer, burst);

    for (int i = 0; i < burst; ++i)
        postNotification("burst-back");
    peer.drainedDeliveries();
    long toPeer = peer.count("burst-back");
    EXPECT_EQ(toPeer, burst);
    std::cout << "[ figure   ] " << fromPeer << " of " << burst << " posts from another process received; " << toPeer
              << " of " << burst << " posts to another process received" << std::endl;
}
