// The simulator's HTTP server: the page, the device's state and timeline, the
// settings pane, and the commands a person gives, all over one session; with the
// compare view, also the stock device beside it, relayed to its own server. It
// listens on 127.0.0.1 only and refuses what RequestGuard refuses.
//
// Connections pass the GatedServer's gate: requests arrive whole before a thread
// handles them, and event streams (bounded, maxEventStreams) hold threads of their own.
#pragma once

#include "tools/kestrel/serve/GatedServer.h"
#include "tools/kestrel/serve/TimelineFeed.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

namespace Kestrel {

class StockDevice;

class SimulatorServer {
public:
    static constexpr size_t maxEventStreams = 16;
    static constexpr size_t maxConnections = 512;
    static constexpr size_t maxBody = 64 * 1024;

    // setUp: the lines that give a fresh device this one's set-up (for the recording).
    // stock: the compare view's second device, or nullptr.
    SimulatorServer(DeviceSession&, TimelineFeed&, std::vector<std::string> setUp, StockDevice* stock = nullptr);
    ~SimulatorServer();
    SimulatorServer(const SimulatorServer&) = delete;
    SimulatorServer& operator=(const SimulatorServer&) = delete;

    // Binds 127.0.0.1:port (0: any free port). The port, or why not.
    Platform::Expected<int> bind(int port);
    // Serves on a thread of its own until stop(). `ended` runs if serving ends by itself.
    void start(std::function<void()> ended);
    // Ends the event streams, closes the listening socket and waits for every worker. Idempotent.
    void stop();

private:
    void addRoutes();
    void command(const httplib::Request&, httplib::Response&);
    void changePane(const httplib::Request&, httplib::Response&);
    void runText(const std::string& text, int refusalStatus, httplib::Response&);
    void state(httplib::Response&);
    void pane(httplib::Response&);
    void paneImage(httplib::Response&);
    void recording(httplib::Response&);
    void devices(httplib::Response&);
    void events(TimelineFeed&, const httplib::Request&, httplib::Response&);
    void relay(const httplib::Request&, httplib::Response&);

    DeviceSession& m_session;
    TimelineFeed& m_feed;
    const std::vector<std::string> m_setUp;
    StockDevice* const m_stock;
    std::unique_ptr<GatedServer> m_server;
    int m_port { 0 };
    std::thread m_thread;
    std::atomic<bool> m_stopping { false };
};

} // namespace Kestrel
