#include "tools/kestrel/serve/StockDevice.h"

#include "host/device/DeviceLayout.h"
#include "host/device/Words.h"
#include "platform/Lines.h"
#include "tools/kestrel/serve/ServeJson.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <httplib.h>
#include <mutex>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace Kestrel {

namespace {

// Booting the device's SpringBoard is the slow part of the child's start.
constexpr int startTimeoutMilliseconds = 60'000;
constexpr auto stopTimeout = std::chrono::seconds(15);

std::mutex s_reapLock;

std::string unreachable()
{
    return jsonLine(
        nlohmann::json { { "ok", false }, { "error", "the stock device does not answer: it has stopped" } });
}

// The first line the child prints, or empty when none came in time.
std::string firstLine(int descriptor)
{
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(startTimeoutMilliseconds);
    while (line.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd entry { descriptor, POLLIN, 0 };
        if (left.count() <= 0 || ::poll(&entry, 1, int(left.count())) <= 0)
            break;
        char chunk[512];
        ssize_t count = ::read(descriptor, chunk, sizeof(chunk));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        line.append(chunk, size_t(count));
    }
    return line.substr(0, line.find('\n'));
}

} // namespace

Platform::Expected<std::unique_ptr<StockDevice>> StockDevice::start(Device::Scheme scheme, bool realTime)
{
    const char* temporary = std::getenv("TMPDIR");
    std::string pattern = std::string(temporary && *temporary ? temporary : "/tmp") + "/kestrel-stock.XXXXXX";
    std::vector<char> path(pattern.begin(), pattern.end());
    path.push_back('\0');
    if (!::mkdtemp(path.data())) {
        return Platform::Failure { "cannot make a folder for the stock device in "
            + pattern.substr(0, pattern.rfind('/')) };
    }
    std::string root = path.data();
    auto giveUp = [&](std::string why) {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
        return Platform::Failure { std::move(why) };
    };
    Device::InitOptions options;
    options.stock = true;
    options.scheme = scheme;
    if (auto laid = Device::initDevice(root, options, Device::Artifacts::nextToExecutable()); !laid)
        return giveUp("cannot lay out the stock device: " + laid.error());

    char program[PATH_MAX] = {};
    ssize_t length = ::readlink("/proc/self/exe", program, sizeof(program) - 1);
    if (length <= 0)
        return giveUp("cannot find the kestrel program to serve the stock device");
    std::vector<std::string> words { program, "serve", root, "--port", "0" };
    if (!realTime)
        words.push_back("--virtual-time");
    std::vector<char*> arguments;
    for (auto& word : words)
        arguments.push_back(word.data());
    arguments.push_back(nullptr);

    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0)
        return giveUp("cannot make a pipe to the stock device's server");
    pid_t parent = ::getpid();
    pid_t child = ::fork();
    if (child < 0) {
        ::close(output[0]);
        ::close(output[1]);
        return giveUp("cannot start the stock device's server");
    }
    if (child == 0) {
        // Only what is safe between fork and exec: the child ends with this process.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(1);
        ::dup2(output[1], STDOUT_FILENO);
        ::execv(program, arguments.data());
        ::_exit(127);
    }
    ::close(output[1]);
    std::string line = firstLine(output[0]);
    // The child prints nothing more; a later write finds the pipe closed and is ignored.
    ::close(output[0]);
    std::optional<int> port;
    if (size_t at = line.find("http://127.0.0.1:"); at != std::string::npos) {
        std::string rest = line.substr(at + 17);
        port = Device::parseInteger<int>(rest.substr(0, rest.find('/')));
    }
    if (!port) {
        ::kill(child, SIGKILL);
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
        return giveUp("the stock device's server did not start" + (line.empty() ? std::string() : ": " + line));
    }
    return std::unique_ptr<StockDevice>(new StockDevice(root, child, *port));
}

StockDevice::StockDevice(std::string root, pid_t child, int port)
    : m_root(std::move(root))
    , m_child(child)
    , m_port(port)
{
    m_follower = std::thread([this] { follow(); });
}

StockDevice::~StockDevice() { stop(); }

bool StockDevice::childAlive()
{
    std::lock_guard guard(s_reapLock);
    if (m_exited)
        return false;
    int status = 0;
    if (::waitpid(m_child, &status, WNOHANG) == m_child)
        m_exited = true;
    return !m_exited;
}

void StockDevice::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    m_stopping = true;
    if (childAlive()) {
        ::kill(m_child, SIGTERM);
        auto deadline = std::chrono::steady_clock::now() + stopTimeout;
        while (childAlive() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (childAlive()) {
            ::kill(m_child, SIGKILL);
            while (childAlive())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    m_feed.stop();
    if (m_follower.joinable())
        m_follower.join();
    std::error_code ignored;
    std::filesystem::remove_all(m_root, ignored);
}

// Reads the child's event stream into the feed, resuming after the last message if the
// stream breaks, until this device stops or the child has ended by itself.
void StockDevice::follow()
{
    uint64_t last = 0;
    while (!m_stopping) {
        httplib::Client client("127.0.0.1", m_port);
        client.set_connection_timeout(1);
        // An idle stream says so every two seconds.
        client.set_read_timeout(6);
        httplib::Headers headers;
        if (last)
            headers.emplace("Last-Event-ID", std::to_string(last));
        std::string pending;
        client.Get("/api/events", headers, [&](const char* data, size_t size) {
            pending.append(data, size);
            for (size_t end; (end = pending.find("\n\n")) != std::string::npos;) {
                std::string block = pending.substr(0, end + 1);
                pending.erase(0, end + 2);
                std::optional<uint64_t> id;
                std::string message;
                for (auto line : Platform::lines(block)) {
                    if (line.starts_with("id: "))
                        id = Device::parseInteger<uint64_t>(line.substr(4));
                    else if (line.starts_with("data: "))
                        message += std::string(line.substr(6));
                }
                if (id && !message.empty() && *id > last) {
                    m_feed.add(*id, std::move(message));
                    last = *id;
                }
            }
            return !m_stopping.load();
        });
        if (m_stopping)
            break;
        if (!childAlive()) {
            // The device stopped by itself: its streams here end, and the page says so.
            m_feed.stop();
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

StockDevice::Answer StockDevice::get(const std::string& path)
{
    httplib::Client client("127.0.0.1", m_port);
    client.set_connection_timeout(2);
    client.set_read_timeout(20);
    auto result = client.Get(path.c_str());
    if (!result)
        return { 502, unreachable(), "application/json" };
    return { result->status, result->body, result->get_header_value("Content-Type") };
}

StockDevice::Answer StockDevice::post(
    const std::string& path, const std::string& body, const std::string& refusalStatus)
{
    httplib::Client client("127.0.0.1", m_port);
    client.set_connection_timeout(2);
    // In real time one wait lasts at most 10 s.
    client.set_read_timeout(20);
    httplib::Headers headers;
    if (!refusalStatus.empty())
        headers.emplace("Kestrel-Refusal-Status", refusalStatus);
    auto result = client.Post(path.c_str(), headers, body, "application/json");
    if (!result)
        return { 502, unreachable(), "application/json" };
    return { result->status, result->body, result->get_header_value("Content-Type") };
}

} // namespace Kestrel
