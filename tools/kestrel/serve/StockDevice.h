// The compare view's second device: a stock device (the base system alone, no Kestrel)
// laid out in a folder of its own and served by a second `kestrel serve`, a child process
// that this server relays to. The child keeps the device's own session, timeline and
// recording; its event stream comes here over one connection and fills a feed of its own.
// The child cannot outlive this process, and stop() (or the destructor) ends it and
// removes the device's folder.
#pragma once

#include "host/device/DeviceScheme.h"
#include "tools/kestrel/serve/TimelineFeed.h"

#include <atomic>
#include <memory>
#include <string>
#include <sys/types.h>
#include <thread>

namespace Kestrel {

class StockDevice {
public:
    // Lays the device out, of the scheme of the device beside it, and starts its server, in
    // real or virtual time as this one runs.
    static Platform::Expected<std::unique_ptr<StockDevice>> start(Device::Scheme, bool realTime);
    ~StockDevice();
    StockDevice(const StockDevice&) = delete;
    StockDevice& operator=(const StockDevice&) = delete;

    struct Answer {
        int status { 502 };
        std::string body;
        std::string contentType { "application/json" };
    };
    // A request to the device's own server, answered as it answered (502 when it cannot be reached).
    Answer get(const std::string& path);
    Answer post(const std::string& path, const std::string& body, const std::string& refusalStatus);

    TimelineFeed& feed() { return m_feed; }
    const std::string& root() const { return m_root; }
    // Ends the child and removes the device. Idempotent.
    void stop();

private:
    StockDevice(std::string root, pid_t, int port);
    void follow();
    bool childAlive();

    const std::string m_root;
    pid_t m_child;
    const int m_port;
    TimelineFeed m_feed;
    std::atomic<bool> m_stopping { false };
    bool m_stopped { false };
    std::atomic<bool> m_exited { false };
    std::thread m_follower;
};

} // namespace Kestrel
