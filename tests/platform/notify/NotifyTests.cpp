#include "PeerProcess.h"
#include "platform/system/TemporaryDevice.h"
#include "platform/system/TimelineRecorder.h"

#include "platform/log/SystemLog.h"
#include "platform/notify/Notify.h"
#include "platform/notify/NotifyAddress.h"

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <iostream>
#include <sys/wait.h>
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
    postNotification(std::string_view("com.kestrel.Respring\0x", 22));
    drainNotifyDeliveries();
    EXPECT_EQ(everything.names().size(), 6u);
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

// Empty and over-long names are refused at post time; the longest allowed name and names with
// any bytes arrive intact; each post is on the timeline.
TEST_F(NotifyTest, NameLimitsAndTimeline)
{
    TimelineRecorder timeline;
    Deliveries monitor;
    addNotifyMonitor(monitor.observer());
    std::string longest(maximumNotificationNameLength, 'n');
    std::string binary("line\nbreak\0nul\xff", 15);
    EXPECT_FALSE(postNotification(""));
    EXPECT_FALSE(postNotification(longest + "n"));
    EXPECT_TRUE(postNotification(longest));
    EXPECT_TRUE(postNotification(binary));
    drainNotifyDeliveries();
    EXPECT_EQ(monitor.names(), (std::vector<std::string> { longest, binary }));
    EXPECT_EQ(timeline.events(), (std::vector<std::string> { "post " + longest, "post " + binary }));
}

// Datagrams that are not posts of ours (empty, oversized, control messages without the
// endpoint's nonce) reach the endpoint harmlessly.
TEST_F(NotifyTest, ForeignDatagramsAreIgnored)
{
    Deliveries deliveries;
    addNotifyObserver("still-working", deliveries.observer());
    auto address = notifyEndpointAddress(canonicalDeviceRoot(m_device.root()).value(), ::getpid());
    int sender = connectNotifySender(address);
    ASSERT_GE(sender, 0);
    std::string oversized(5000, 'P');
    for (const auto& junk : { std::string(), oversized, notifyControlMessage(NotifyMessageKind::Quit, 1, 0),
             notifyControlMessage(NotifyMessageKind::Marker, 1, 99),
             std::string("Pstill-working") + std::string(2000, 'x') })
        ::send(sender, junk.data(), junk.size(), 0);
    ::close(sender);
    postNotification("still-working");
    EXPECT_TRUE(deliveries.waitForCount(1));
    drainNotifyDeliveries();
    EXPECT_EQ(deliveries.names().size(), 1u);
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
