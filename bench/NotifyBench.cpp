// Post-to-callback latency across two processes of a device, next to its floor: round trips
// over a plain Unix datagram socket between the same two processes. A notify round trip is
// process A posting "ping", B's callback posting "pong", and A's callback seeing it.
#include "platform/fs/DeviceRoot.h"
#include "platform/fs/ExecutablePath.h"
#include "platform/notify/Notify.h"
#include "platform/notify/NotifyTesting.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr std::string_view echoFlag = "--echo";
constexpr int echoSocketFd = 3;

// Process B: answers "ping" with "pong" through notify, and echoes every datagram on the
// socket it was given until it reads "q".
int runEcho(const char* deviceRoot)
{
    Platform::setDeviceRoot(deviceRoot);
    Platform::addNotifyObserver("bench.ping", [](std::string_view) { Platform::postNotification("bench.pong"); });
    char ready = 'r';
    if (::send(echoSocketFd, &ready, 1, 0) != 1)
        return 1;
    char byte;
    while (::recv(echoSocketFd, &byte, 1, 0) == 1 && byte != 'q') {
        if (::send(echoSocketFd, &byte, 1, 0) != 1)
            return 1;
    }
    return 0;
}

// Process A's side of both ping-pongs.
class EchoPeer {
public:
    EchoPeer()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        m_root = pattern;
        Platform::setDeviceRoot(m_root);
        Platform::addNotifyObserver("bench.pong", [this](std::string_view) {
            // A chain goes on from the callback itself, so no other thread sits in the loop.
            if (m_chainLeft.load(std::memory_order_relaxed) > 0
                && m_chainLeft.fetch_sub(1, std::memory_order_relaxed) > 1) {
                Platform::postNotification("bench.ping");
                return;
            }
            std::lock_guard guard(m_lock);
            ++m_pongs;
            m_pongReceived.notify_one();
        });

        int sockets[2];
        if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, sockets) < 0)
            std::abort();
        m_socket = sockets[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, sockets[1], echoSocketFd);
        std::string program = Platform::executablePath();
        std::string flag(echoFlag);
        char* argv[] = { program.data(), flag.data(), m_root.data(), nullptr };
        if (::posix_spawn(&m_child, program.c_str(), &actions, nullptr, argv, environ))
            std::abort();
        posix_spawn_file_actions_destroy(&actions);
        ::close(sockets[1]);
        char ready;
        if (::recv(m_socket, &ready, 1, 0) != 1)
            std::abort();
    }

    ~EchoPeer()
    {
        // A datagram socket sees no end of file when its peer closes.
        char quit = 'q';
        (void)::send(m_socket, &quit, 1, 0);
        ::close(m_socket);
        ::waitpid(m_child, nullptr, 0);
        Platform::resetNotifyForTesting();
        std::filesystem::remove_all(m_root);
    }

    void socketRoundTrip()
    {
        char byte = 'p';
        if (::send(m_socket, &byte, 1, 0) != 1 || ::recv(m_socket, &byte, 1, 0) != 1)
            std::abort();
    }

    // The caller waits for each pong itself: one more thread hand-off per round trip.
    void notifyRoundTrip() { notifyRoundTrips(1); }

    // count round trips chained by the callbacks; the caller waits once, for the last pong.
    void notifyRoundTrips(int count)
    {
        std::unique_lock guard(m_lock);
        uint64_t before = m_pongs;
        m_chainLeft.store(count, std::memory_order_relaxed);
        Platform::postNotification("bench.ping");
        m_pongReceived.wait(guard, [&] { return m_pongs != before; });
    }

private:
    std::string m_root;
    int m_socket { -1 };
    pid_t m_child { -1 };
    std::mutex m_lock;
    std::condition_variable m_pongReceived;
    uint64_t m_pongs { 0 };
    std::atomic<int> m_chainLeft { 0 };
};

constexpr int roundTripsPerIteration = 100;

// Time per round trip, from iterations of roundTripsPerIteration each.
void reportPerRoundTrip(benchmark::State& state)
{
    state.counters["perRoundTrip"] = benchmark::Counter(
        roundTripsPerIteration, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

EchoPeer* s_peer;

// The floor.
void unixSocketRoundTrips(benchmark::State& state)
{
    for (auto _ : state) {
        for (int i = 0; i < roundTripsPerIteration; ++i)
            s_peer->socketRoundTrip();
    }
    reportPerRoundTrip(state);
}
BENCHMARK(unixSocketRoundTrips)->UseRealTime();

// The measured case: post to callback and back, callbacks driving the ping-pong.
void notifyRoundTrips(benchmark::State& state)
{
    for (auto _ : state)
        s_peer->notifyRoundTrips(roundTripsPerIteration);
    reportPerRoundTrip(state);
}
BENCHMARK(notifyRoundTrips)->UseRealTime();

// As a caller waiting on each pong sees it.
void notifyRoundTripWaitedOn(benchmark::State& state)
{
    for (auto _ : state)
        s_peer->notifyRoundTrip();
}
BENCHMARK(notifyRoundTripWaitedOn)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && argv[1] == echoFlag)
        return runEcho(argv[2]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    EchoPeer peer;
    s_peer = &peer;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
