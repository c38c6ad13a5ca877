// The simulator's HTTP server: cpp-httplib's request handling behind a gate of its own.
// The gate, one thread polling every open connection, reads each request whole before a
// worker sees it, so a client that sends slowly holds a socket and never a thread:
//   - a request must arrive whole within its deadline (counted from the connection's
//     accept, or from the end of its previous answer), or it is answered 408 and closed;
//     a connection that sent nothing by then is closed;
//   - connections beyond a bound are answered 503 and closed at once;
//   - event streams, which hold a thread for as long as they are open, run on threads of
//     their own, a bounded number of them, so the requests that drive the device always
//     find a thread.
// Routes, handlers and the answers they write are httplib's, set up as on any httplib::Server.
#pragma once

#include "tools/kestrel/serve/WorkerPool.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <httplib.h>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace Kestrel {

// How much of what a connection sent is one whole request.
struct RequestExtent {
    enum class Status { Incomplete, Whole, HeadTooLarge };
    Status status { Status::Incomplete };
    size_t length { 0 }; // of the whole request: its head, and its body when it will be read
    std::string_view requestLine; // "GET /api/events HTTP/1.1", once the head is whole
};
// A request is whole once its head is, and its body when it has a length of at most
// maxBody; a body sent in chunks or over maxBody is not waited for (the server refuses
// such a request without reading its body).
RequestExtent requestExtent(std::string_view received, size_t maxHead, size_t maxBody);

class GatedServer : public httplib::Server {
public:
    struct Limits {
        size_t connections { 512 };
        std::chrono::milliseconds deadline { 2000 };
        std::chrono::milliseconds writeDeadline { 5000 }; // for each write of an answer
        size_t requestThreads { 16 };
        size_t streamThreads { 16 };
        size_t maxHead { 16 * 1024 };
        size_t maxBody { 64 * 1024 };
    };
    // Whether a request (its request line) opens an event stream.
    using StreamTest = std::function<bool(std::string_view requestLine)>;

    GatedServer(Limits, StreamTest);
    ~GatedServer() override;

    // Binds 127.0.0.1:port (0: any free port); the port, or nullopt.
    std::optional<int> bindLoopback(int port);
    // Runs the gate on the calling thread until stop(); the workers have ended when it returns.
    void serve();
    // From any thread. Open event streams end once their handlers see the server stopping.
    void stop();
    bool serving() const { return m_serving; }

private:
    struct Connection {
        int socket { -1 };
        std::string received;
        std::chrono::steady_clock::time_point deadline;
        bool peerDone { false }; // the client sent all it will send
    };
    bool receive(Connection&);
    void accept(std::vector<Connection>&);
    // Hands a whole request to a worker; false when it was answered and closed here.
    void dispatch(Connection, const RequestExtent&);
    void work(Connection);
    void finish(Connection&, int status, const std::string& error);
    void close(int socket);

    const Limits m_limits;
    const StreamTest m_isStream;
    int m_wake[2] { -1, -1 };
    std::atomic<bool> m_stopping { false };
    std::atomic<bool> m_serving { false };
    std::atomic<size_t> m_open { 0 };
    std::atomic<size_t> m_streams { 0 };
    WorkerPool m_requests;
    WorkerPool m_streamWorkers;

    std::mutex m_lock;
    std::vector<Connection> m_returned; // kept alive after an answer, back to the gate
    std::set<int> m_working; // sockets a worker holds
};

} // namespace Kestrel
