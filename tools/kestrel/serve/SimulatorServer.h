// The simulator's HTTP server: the page, the device's state and timeline, the
// settings pane, and the commands a person gives, all over one session. It listens
// on 127.0.0.1 only and refuses what RequestGuard refuses.
//
// Connections are served by a fixed pool of threads; an event stream holds its thread
// for as long as it is open, so streams are bounded (maxEventStreams) and the pool has
// room beyond them for the requests that drive the device.
#pragma once

#include "tools/kestrel/serve/TimelineFeed.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace Kestrel {

class SimulatorServer {
public:
    static constexpr int maxEventStreams = 16;
    static constexpr size_t connectionThreads = 64;
    static constexpr size_t maxBody = 64 * 1024;

    // setUp: the lines that give a fresh device this one's set-up (for the recording).
    SimulatorServer(DeviceSession&, TimelineFeed&, std::vector<std::string> setUp);
    ~SimulatorServer();
    SimulatorServer(const SimulatorServer&) = delete;
    SimulatorServer& operator=(const SimulatorServer&) = delete;

    // Binds 127.0.0.1:port (0: any free port). The port, or nullopt and why not.
    std::optional<int> bind(int port, std::string& error);
    // Serves on a thread of its own until stop(). `ended` runs if serving ends by itself.
    void start(std::function<void()> ended);
    // Closes the event streams and the listening socket and waits for every connection
    // thread. Idempotent.
    void stop();

private:
    void addRoutes();
    void command(const httplib::Request&, httplib::Response&);
    void changePane(const httplib::Request&, httplib::Response&);
    void runText(const std::string& text, httplib::Response&);
    void state(httplib::Response&);
    void pane(httplib::Response&);
    void paneImage(httplib::Response&);
    void recording(httplib::Response&);
    void events(const httplib::Request&, httplib::Response&);

    DeviceSession& m_session;
    TimelineFeed& m_feed;
    const std::vector<std::string> m_setUp;
    std::unique_ptr<httplib::Server> m_server;
    int m_port { 0 };
    std::thread m_thread;
    std::atomic<bool> m_stopping { false };
    std::atomic<int> m_streams { 0 };
};

} // namespace Kestrel
