#include "tools/kestrel/serve/GatedServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace Kestrel {

namespace {

using Clock = std::chrono::steady_clock;

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::tolower(x) == std::tolower(y); });
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

const char* reasonPhrase(int status)
{
    switch (status) {
    case 408:
        return "Request Timeout";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "Service Unavailable";
    }
}

// What the gate answers itself, in the form of the server's other errors: one JSON line.
std::string gateAnswer(int status, const std::string& error)
{
    std::string body = "{\"ok\":false,\"error\":\"" + error + "\"}\n";
    return "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status)
        + "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size())
        + "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n" + body;
}

// A request's bytes, read by the gate, then the socket for the answer. Reads past the
// request find its end: the gate hands over only whole requests.
class BufferedStream final : public httplib::Stream {
public:
    BufferedStream(int socket, std::string received, std::chrono::milliseconds writeDeadline)
        : m_socket(socket)
        , m_received(std::move(received))
        , m_writeDeadline(writeDeadline)
    {
    }

    bool is_readable() const override { return m_position < m_received.size(); }

    // Writable, and the client has not gone: a stream's reader that left is noticed here.
    bool is_writable() const override
    {
        pollfd entry { m_socket, POLLOUT, 0 };
        if (::poll(&entry, 1, int(m_writeDeadline.count())) <= 0 || !(entry.revents & POLLOUT)
            || (entry.revents & (POLLERR | POLLHUP)))
            return false;
        char byte;
        return ::recv(m_socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT) != 0;
    }

    ssize_t read(char* destination, size_t size) override
    {
        size_t count = std::min(size, m_received.size() - m_position);
        std::memcpy(destination, m_received.data() + m_position, count);
        m_position += count;
        return ssize_t(count);
    }

    ssize_t write(const char* source, size_t size) override
    {
        noteHead(std::string_view(source, size));
        auto deadline = Clock::now() + m_writeDeadline;
        size_t sent = 0;
        while (sent < size) {
            ssize_t count = ::send(m_socket, source + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (count > 0) {
                sent += size_t(count);
                continue;
            }
            if (count < 0 && errno == EINTR)
                continue;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd entry { m_socket, POLLOUT, 0 };
            if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && left > 0 && ::poll(&entry, 1, int(left)) > 0
                && !(entry.revents & (POLLERR | POLLHUP)))
                continue;
            m_failed = true;
            return -1;
        }
        return ssize_t(size);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { address(::getpeername, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { address(::getsockname, ip, port); }
    socket_t socket() const override { return m_socket; }

    std::string leftover() const { return m_received.substr(m_position); }
    // The answer said the connection closes after it, or could not be written whole.
    bool closes() const { return m_closes || m_failed; }

private:
    void noteHead(std::string_view written)
    {
        if (m_headDone)
            return;
        m_head.append(written.substr(0, 16 * 1024 - std::min<size_t>(m_head.size(), 16 * 1024)));
        size_t end = m_head.find("\r\n\r\n");
        if (end == std::string::npos && m_head.size() < 16 * 1024)
            return;
        m_headDone = true;
        std::string_view head(m_head.data(), end == std::string::npos ? m_head.size() : end + 2);
        for (size_t start = head.find("\r\n"); start != std::string_view::npos;) {
            size_t next = head.find("\r\n", start + 2);
            if (next == std::string_view::npos)
                break;
            auto line = head.substr(start + 2, next - start - 2);
            auto colon = line.find(':');
            if (colon != std::string_view::npos && equalsIgnoringCase(trimmed(line.substr(0, colon)), "Connection")
                && equalsIgnoringCase(trimmed(line.substr(colon + 1)), "close"))
                m_closes = true;
            start = next;
        }
    }

    template <typename Name> void address(Name name, std::string& ip, int& port) const
    {
        sockaddr_in address {};
        socklen_t length = sizeof(address);
        if (name(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0 || address.sin_family != AF_INET)
            return;
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof(text));
        ip = text;
        port = ntohs(address.sin_port);
    }

    int m_socket;
    std::string m_received;
    size_t m_position { 0 };
    std::chrono::milliseconds m_writeDeadline;
    std::string m_head;
    bool m_headDone { false };
    bool m_closes { false };
    bool m_failed { false };
};

} // namespace

RequestExtent requestExtent(std::string_view received, size_t maxHead, size_t maxBody)
{
    RequestExtent extent;
    size_t headEnd = received.find("\r\n\r\n");
    if (headEnd == std::string_view::npos) {
        if (received.size() > maxHead)
            extent.status = RequestExtent::Status::HeadTooLarge;
        return extent;
    }
    headEnd += 4;
    if (headEnd > maxHead) {
        extent.status = RequestExtent::Status::HeadTooLarge;
        return extent;
    }
    auto head = received.substr(0, headEnd);
    size_t lineEnd = head.find("\r\n");
    extent.requestLine = head.substr(0, lineEnd);
    extent.status = RequestExtent::Status::Whole;
    extent.length = headEnd;

    std::optional<uint64_t> length;
    for (size_t start = lineEnd; start + 2 < headEnd;) {
        size_t next = head.find("\r\n", start + 2);
        auto line = head.substr(start + 2, next - start - 2);
        start = next;
        auto colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        auto name = trimmed(line.substr(0, colon));
        auto value = trimmed(line.substr(colon + 1));
        // A chunked body's length is known only at its end: the server refuses it unread.
        if (equalsIgnoringCase(name, "Transfer-Encoding"))
            return extent;
        if (equalsIgnoringCase(name, "Content-Length") && !length) {
            uint64_t number = 0;
            auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
            if (error != std::errc() || end != value.data() + value.size() || value.empty())
                return extent; // malformed: answered as such without a body
            length = number;
        }
    }
    if (!length || *length > maxBody)
        return extent;
    if (received.size() - headEnd < *length) {
        extent.status = RequestExtent::Status::Incomplete;
        return extent;
    }
    extent.length = headEnd + size_t(*length);
    return extent;
}

GatedServer::GatedServer(Limits limits, StreamTest isStream)
    : m_limits(limits)
    , m_isStream(std::move(isStream))
    , m_requests(limits.requestThreads)
    , m_streamWorkers(limits.streamThreads)
{
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("cannot make the server's wake-up pipe");
    set_payload_max_length(limits.maxBody);
}

GatedServer::~GatedServer()
{
    stop();
    m_streamWorkers.join();
    m_requests.join();
    for (int end : m_wake)
        ::close(end);
}

std::optional<int> GatedServer::bindLoopback(int port)
{
    bool bound = port ? bind_to_port("127.0.0.1", port) : (port = bind_to_any_port("127.0.0.1")) > 0;
    if (!bound)
        return std::nullopt;
    int listening = svr_sock_;
    // The library listens with a short backlog: a burst of connections must not wait for
    // the kernel's retries to get in line.
    ::listen(listening, 1024);
    ::fcntl(listening, F_SETFL, ::fcntl(listening, F_GETFL) | O_NONBLOCK);
    return port;
}

void GatedServer::stop()
{
    if (m_stopping.exchange(true))
        return;
    char byte = 1;
    [[maybe_unused]] auto written = ::write(m_wake[1], &byte, 1);
}

void GatedServer::close(int socket)
{
    ::close(socket);
    --m_open;
}

void GatedServer::finish(Connection& connection, int status, const std::string& error)
{
    auto answer = gateAnswer(status, error);
    [[maybe_unused]] auto sent = ::send(connection.socket, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    // What the client still sends must not turn the close into a reset that loses the answer.
    ::shutdown(connection.socket, SHUT_WR);
    char sink[4096];
    while (::recv(connection.socket, sink, sizeof(sink), MSG_DONTWAIT) > 0) { }
    close(connection.socket);
}

// False when the connection is over (the client closed it with nothing left to answer, or failed).
bool GatedServer::receive(Connection& connection)
{
    char chunk[16 * 1024];
    size_t most = m_limits.maxHead + m_limits.maxBody;
    while (connection.received.size() <= most) {
        ssize_t count = ::recv(connection.socket, chunk, sizeof(chunk), MSG_DONTWAIT);
        if (count > 0) {
            connection.received.append(chunk, size_t(count));
            continue;
        }
        if (count == 0) {
            connection.peerDone = true;
            return !connection.received.empty();
        }
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    return true;
}

void GatedServer::accept(std::vector<Connection>& waiting)
{
    while (true) {
        int socket = ::accept4(svr_sock_, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            return;
        }
        ++m_open;
        Connection connection { socket, {}, Clock::now() + m_limits.deadline };
        if (m_open > m_limits.connections) {
            finish(connection, 503,
                "the server has too many connections open (at most " + std::to_string(m_limits.connections) + ")");
            continue;
        }
        int yes = 1;
        ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof(yes));
        waiting.push_back(std::move(connection));
    }
}

void GatedServer::dispatch(Connection connection, const RequestExtent& extent)
{
    if (!m_isStream || !m_isStream(extent.requestLine)) {
        m_requests.run([this, connection = std::move(connection)]() mutable { work(std::move(connection)); });
        return;
    }
    if (++m_streams > m_limits.streamThreads) {
        --m_streams;
        finish(connection, 503,
            "too many event streams are open (at most " + std::to_string(m_limits.streamThreads) + ")");
        return;
    }
    m_streamWorkers.run([this, connection = std::move(connection)]() mutable {
        work(std::move(connection));
        --m_streams;
    });
}

void GatedServer::work(Connection connection)
{
    {
        std::lock_guard guard(m_lock);
        m_working.insert(connection.socket);
    }
    BufferedStream stream(connection.socket, std::move(connection.received), m_limits.writeDeadline);
    bool closed = false;
    bool answered = !m_stopping && process_request(stream, false, closed, [](httplib::Request&) {});
    {
        std::lock_guard guard(m_lock);
        m_working.erase(connection.socket);
    }
    if (!answered || closed || stream.closes() || connection.peerDone || m_stopping) {
        close(connection.socket);
        return;
    }
    {
        std::lock_guard guard(m_lock);
        m_returned.push_back({ connection.socket, stream.leftover(), Clock::now() + m_limits.deadline, false });
    }
    char byte = 1;
    [[maybe_unused]] auto written = ::write(m_wake[1], &byte, 1);
}

void GatedServer::serve()
{
    m_serving = true;
    std::vector<Connection> waiting;
    std::vector<pollfd> polled;
    while (!m_stopping) {
        auto now = Clock::now();
        int timeout = -1;
        polled.assign({ { m_wake[0], POLLIN, 0 }, { svr_sock_, POLLIN, 0 } });
        for (auto& connection : waiting) {
            polled.push_back({ connection.socket, POLLIN, 0 });
            auto left = std::chrono::ceil<std::chrono::milliseconds>(connection.deadline - now).count();
            timeout
                = timeout < 0 ? int(std::max<int64_t>(left, 0)) : std::min(timeout, int(std::max<int64_t>(left, 0)));
        }
        if (::poll(polled.data(), polled.size(), timeout) < 0 && errno != EINTR)
            break;
        now = Clock::now();

        std::vector<Connection> next;
        next.reserve(waiting.size());
        auto consider = [&](Connection connection) {
            auto extent = requestExtent(connection.received, m_limits.maxHead, m_limits.maxBody);
            if (extent.status == RequestExtent::Status::Whole)
                dispatch(std::move(connection), extent);
            else if (extent.status == RequestExtent::Status::HeadTooLarge)
                finish(connection, 431, "the request head is over " + std::to_string(m_limits.maxHead / 1024) + " KiB");
            else if (connection.peerDone)
                close(connection.socket);
            else if (now >= connection.deadline) {
                if (connection.received.empty())
                    close(connection.socket);
                else {
                    char limit[32];
                    std::snprintf(limit, sizeof(limit), "%.1f", double(m_limits.deadline.count()) / 1000);
                    finish(connection, 408, std::string("the request did not arrive whole within ") + limit + " s");
                }
            } else
                next.push_back(std::move(connection));
        };
        for (size_t i = 0; i < waiting.size(); ++i) {
            auto& connection = waiting[i];
            if (polled[i + 2].revents && !receive(connection)) {
                close(connection.socket);
                continue;
            }
            consider(std::move(connection));
        }
        if (polled[0].revents) {
            char drained[64];
            while (::read(m_wake[0], drained, sizeof(drained)) > 0) { }
            std::vector<Connection> returned;
            {
                std::lock_guard guard(m_lock);
                returned.swap(m_returned);
            }
            for (auto& connection : returned)
                consider(std::move(connection));
        }
        waiting.swap(next);
        if (polled[1].revents)
            accept(waiting);
    }

    // Stopping: nothing new is taken; what waits is closed; workers finish what they hold.
    int listening = svr_sock_.exchange(INVALID_SOCKET);
    if (listening != INVALID_SOCKET)
        ::close(listening);
    for (auto& connection : waiting)
        close(connection.socket);
    // Event streams end by themselves once their feed stops; give them a moment to end
    // their answers properly before their sockets are shut.
    for (int i = 0; i < 50 && m_streams; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    {
        std::lock_guard guard(m_lock);
        for (int socket : m_working)
            ::shutdown(socket, SHUT_RDWR);
    }
    m_streamWorkers.join();
    m_requests.join();
    {
        std::lock_guard guard(m_lock);
        for (auto& connection : m_returned)
            close(connection.socket);
        m_returned.clear();
    }
    m_serving = false;
}

} // namespace Kestrel
