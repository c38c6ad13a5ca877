#include "tools/kestrel/serve/SimulatorServer.h"

#include "host/device/Words.h"
#include "host/settings/PaneRenderer.h"
#include "tools/kestrel/PaneListing.h"
#include "tools/kestrel/scenario/CommandParser.h"
#include "tools/kestrel/serve/PageAssets.h"
#include "tools/kestrel/serve/RequestGuard.h"
#include "tools/kestrel/serve/ServeJson.h"
#include "tools/kestrel/serve/SessionRecording.h"
#include "tools/kestrel/serve/StockDevice.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <httplib.h>
#include <malloc.h>
#include <sstream>
#include <unistd.h>

using nlohmann::json;

namespace Kestrel {

namespace {

// In real time a wait holds the device (every other command waits for it).
constexpr int64_t longestRealTimeWait = 10'000'000'000;
// An idle event stream says so this often, which is also how soon a stream whose
// reader has gone is noticed and its thread freed.
constexpr auto streamHeartbeat = std::chrono::seconds(2);
// Request bodies nest no deeper than this (the requests hold one flat object).
constexpr int deepestJson = 16;

constexpr const char* pagePolicy = "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
                                   "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

template <typename Json> void sendJson(httplib::Response& response, int status, const Json& body)
{
    response.status = status;
    response.set_content(jsonLine(body), "application/json");
}

// An answer that says first whether it worked, as the interface documents it.
using OrderedJson = nlohmann::ordered_json;

void sendError(httplib::Response& response, int status, const std::string& error)
{
    sendJson(response, status, OrderedJson { { "ok", false }, { "error", error } });
}

std::optional<std::string> header(const httplib::Request& request, const char* name)
{
    if (!request.has_header(name))
        return std::nullopt;
    return request.get_header_value(name);
}

const char* statusText(int status)
{
    switch (status) {
    case 400:
        return "the request is malformed";
    case 404:
        return "nothing is served at this path";
    case 405:
        return "this path does not take that method";
    case 413:
        return "the request body is over 64 KiB";
    case 414:
        return "the request path is too long";
    case 503:
        return "the server is busy";
    default:
        return "the request failed";
    }
}

// Whether a JSON text nests arrays and objects no deeper than the limit.
bool shallow(std::string_view text)
{
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char character = text[i];
        if (inString) {
            if (character == '\\')
                ++i;
            else if (character == '"')
                inString = false;
        } else if (character == '"')
            inString = true;
        else if (character == '[' || character == '{') {
            if (++depth > deepestJson)
                return false;
        } else if (character == ']' || character == '}')
            --depth;
    }
    return true;
}

// The body as a JSON object, or nullopt after answering 400.
std::optional<json> jsonObject(const httplib::Request& request, httplib::Response& response)
{
    if (!shallow(request.body)) {
        sendError(response, 400, "the body nests deeper than a request ever does");
        return std::nullopt;
    }
    json body = json::parse(request.body, nullptr, false);
    if (body.is_discarded()) {
        sendError(response, 400, "the body is not JSON");
        return std::nullopt;
    }
    if (!body.is_object()) {
        sendError(response, 400, "the body must be a JSON object");
        return std::nullopt;
    }
    return body;
}

json timelineLines(const std::vector<SessionEvent>& events)
{
    json lines = json::array();
    for (auto& event : events)
        lines.push_back(timelineLine(event));
    return lines;
}

// A message as the event stream sends it (its data is one line of JSON).
std::string streamMessage(const TimelineFeed::Message& message)
{
    return "id: " + std::to_string(message.sequence) + "\ndata: " + message.data + "\n\n";
}

// The page asks for refusals with status 200: a browser reports every answer of 400 or
// more as an error of the page, and a refused command is no error of the page's.
int refusalStatus(const httplib::Request& request)
{
    return request.get_header_value("Kestrel-Refusal-Status") == "200" ? 200 : 400;
}

bool opensStream(std::string_view requestLine)
{
    for (std::string_view path : { "GET /api/events", "GET /api/stock/events" }) {
        if (requestLine.starts_with(path)
            && (requestLine.size() == path.size() || requestLine[path.size()] == ' '
                || requestLine[path.size()] == '?'))
            return true;
    }
    return false;
}

// The command that adds a notification of the section the page was given, written as the
// session's recording writes it: the page never quotes a word of the scenario itself.
void notificationCommand(const httplib::Request& request, httplib::Response& response)
{
    if (request.get_param_value_count("section") != 1) {
        sendError(response, 400, "expected ?section=SECTION_ID");
        return;
    }
    sendJson(response, 200,
        json { { "command", describe(Driver::NotificationAdd { request.get_param_value("section") }) } });
}

GatedServer::Limits serverLimits()
{
    GatedServer::Limits limits;
    limits.connections = SimulatorServer::maxConnections;
    limits.streamThreads = SimulatorServer::maxEventStreams;
    limits.maxBody = SimulatorServer::maxBody;
    return limits;
}

} // namespace

SimulatorServer::SimulatorServer(
    DeviceSession& session, TimelineFeed& feed, std::vector<std::string> setUp, StockDevice* stock)
    : m_session(session)
    , m_feed(feed)
    , m_setUp(std::move(setUp))
    , m_stock(stock)
    , m_server(std::make_unique<GatedServer>(serverLimits(), opensStream))
{
    // The library's default shares the port with any other server that asks (SO_REUSEPORT),
    // and then requests alternate between two devices. Only a closing socket's port is reused.
    m_server->set_socket_options([](socket_t socket) {
        int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });
    m_server->set_keep_alive_timeout(2);
    m_server->set_default_headers({ { "X-Content-Type-Options", "nosniff" }, { "Referrer-Policy", "no-referrer" },
        { "Cache-Control", "no-store" }, { "X-Frame-Options", "DENY" } });
    addRoutes();
}

SimulatorServer::~SimulatorServer() { stop(); }

Platform::Expected<int> SimulatorServer::bind(int port)
{
    auto bound = m_server->bindLoopback(port);
    if (!bound)
        return Platform::Failure { "cannot listen on 127.0.0.1:" + std::to_string(port)
            + " (is it in use? --port 0 picks a free port)" };
    m_port = *bound;
    return *bound;
}

void SimulatorServer::start(std::function<void()> ended)
{
    m_thread = std::thread([this, ended = std::move(ended)] {
        m_server->serve();
        if (!m_stopping && ended)
            ended();
    });
    // A stop that came before the server ran would find nothing to stop.
    for (int i = 0; i < 500 && !m_server->serving(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

void SimulatorServer::stop()
{
    if (m_stopping.exchange(true))
        return;
    m_feed.stop();
    if (m_stock)
        m_stock->feed().stop();
    m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
}

void SimulatorServer::addRoutes()
{
    auto& server = *m_server;
    server.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        RequestFacts facts { request.method, header(request, "Host"), header(request, "Origin"),
            header(request, "Content-Type"), request.get_header_value_count("Host"),
            request.has_header("Transfer-Encoding") };
        auto refusal = refuseRequest(facts, m_port);
        // Over the loopback, compressing an answer only costs time and memory (a brotli
        // encoder's state is larger than anything this server sends): the library compresses
        // whatever the client accepts, so the client is taken to accept nothing.
        const_cast<httplib::Request&>(request).headers.erase("Accept-Encoding");
        if (!refusal)
            return httplib::Server::HandlerResponse::Unhandled;
        sendError(response, refusal->status, refusal->error);
        // A refused body is never read: the connection cannot carry another request.
        response.set_header("Connection", "close");
        return httplib::Server::HandlerResponse::Handled;
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (!response.body.empty())
            return;
        sendError(response, response.status, statusText(response.status));
        // The library refused before reading the whole request (a body too large, a
        // malformed head): what is left of it must not be read as the next request.
        response.set_header("Connection", "close");
    });
    server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& response, std::exception_ptr exception) {
            std::string what = "unknown error";
            try {
                std::rethrow_exception(exception);
            } catch (const std::exception& caught) {
                what = caught.what();
            } catch (...) {
            }
            sendError(response, 500, "the server failed: " + what);
        });

    auto asset = [](const httplib::Request& request, httplib::Response& response) {
        auto* found = findPageAsset(request.path);
        if (!found) {
            sendError(response, 404, "nothing is served at this path");
            return;
        }
        response.set_content(std::string(found->bytes), std::string(found->contentType));
        response.set_header("Content-Security-Policy", pagePolicy);
    };
    server.Get("/", asset);
    server.Get("/assets/.*", asset);
    server.Get("/api/state", [this](const httplib::Request&, httplib::Response& response) { state(response); });
    server.Post("/api/command",
        [this](const httplib::Request& request, httplib::Response& response) { command(request, response); });
    server.Get("/api/events",
        [this](const httplib::Request& request, httplib::Response& response) { events(m_feed, request, response); });
    server.Get("/api/devices", [this](const httplib::Request&, httplib::Response& response) { devices(response); });
    server.Get("/api/words",
        [](const httplib::Request&, httplib::Response& response) { sendJson(response, 200, wordsJson()); });
    server.Get("/api/notification-command", notificationCommand);
    // The stock device beside this one, when there is one: its own server answers.
    auto relayed = [this](const httplib::Request& request, httplib::Response& response) { relay(request, response); };
    server.Get("/api/stock/state", relayed);
    server.Post("/api/stock/command", relayed);
    server.Get("/api/stock/session.scenario", relayed);
    server.Get("/api/stock/events", [this](const httplib::Request& request, httplib::Response& response) {
        if (!m_stock) {
            sendError(response, 404,
                "nothing is served at this path: there is no stock device (kestrel serve DIR --compare)");
            return;
        }
        events(m_stock->feed(), request, response);
    });
    server.Get("/api/pane", [this](const httplib::Request&, httplib::Response& response) { pane(response); });
    server.Post("/api/pane",
        [this](const httplib::Request& request, httplib::Response& response) { changePane(request, response); });
    server.Get("/api/pane.png", [this](const httplib::Request&, httplib::Response& response) { paneImage(response); });
    server.Get(
        "/api/session.scenario", [this](const httplib::Request&, httplib::Response& response) { recording(response); });
}

// The state as /api/state and a command's answer give it.
static json sessionStateJson(DeviceSession& session)
{
    auto object = stateJson(session.state());
    object["clock"] = session.realTime() ? "real" : "virtual";
    object["time"] = double(session.now()) / 1e9;
    return object;
}

void SimulatorServer::state(httplib::Response& response) { sendJson(response, 200, sessionStateJson(m_session)); }

void SimulatorServer::devices(httplib::Response& response)
{
    json list = json::array();
    if (m_stock)
        list.push_back({ { "name", "stock" }, { "label", "Stock iOS" }, { "api", "/api/stock/" }, { "pane", false } });
    list.push_back({ { "name", "kestrel" }, { "label", "Kestrel" }, { "api", "/api/" }, { "pane", true } });
    sendJson(response, 200, json { { "devices", std::move(list) } });
}

void SimulatorServer::relay(const httplib::Request& request, httplib::Response& response)
{
    if (!m_stock) {
        sendError(
            response, 404, "nothing is served at this path: there is no stock device (kestrel serve DIR --compare)");
        return;
    }
    std::string path = "/api/" + request.path.substr(std::string_view("/api/stock/").size());
    auto answer = request.method == "POST"
        ? m_stock->post(path, request.body, request.get_header_value("Kestrel-Refusal-Status"))
        : m_stock->get(path);
    response.status = answer.status;
    response.set_content(answer.body, answer.contentType.empty() ? "application/octet-stream" : answer.contentType);
    if (path == "/api/session.scenario" && answer.status == 200)
        response.set_header("Content-Disposition", "attachment; filename=\"kestrel-stock-session.scenario\"");
}

void SimulatorServer::command(const httplib::Request& request, httplib::Response& response)
{
    auto body = jsonObject(request, response);
    if (!body)
        return;
    auto found = body->find("command");
    if (found == body->end() || !found->is_string()) {
        sendError(response, 400, "expected {\"command\": \"a scenario command\"}");
        return;
    }
    runText(found->get<std::string>(), refusalStatus(request), response);
}

void SimulatorServer::changePane(const httplib::Request& request, httplib::Response& response)
{
    auto body = jsonObject(request, response);
    if (!body)
        return;
    auto key = body->find("key");
    auto value = body->find("value");
    auto action = body->find("action");
    std::string text;
    if (key != body->end() && value != body->end() && action == body->end() && key->is_string() && body->size() == 2) {
        auto word = scenarioWord(*value);
        if (!word) {
            sendError(response, refusalStatus(request), "a row's value is yes or no, a number or one line of text");
            return;
        }
        text = describe(PaneSet { key->get<std::string>(), *word });
    } else if (action != body->end() && action->is_string() && body->size() == 1)
        text = describe(PaneTap { action->get<std::string>() });
    else {
        sendError(response, 400, "expected {\"key\": KEY, \"value\": VALUE} or {\"action\": ACTION}");
        return;
    }
    runText(text, refusalStatus(request), response);
}

// One command, parsed as `kestrel run` parses a scenario line, run by the session.
void SimulatorServer::runText(const std::string& given, int refused, httplib::Response& response)
{
    if (given.find('\n') != std::string::npos) {
        sendError(response, refused, "one command at a time: the text holds a line break");
        return;
    }
    size_t first = given.find_first_not_of(" \t\r");
    size_t last = given.find_last_not_of(" \t\r");
    std::string text = first == std::string::npos ? std::string() : given.substr(first, last - first + 1);
    ScenarioPhase phase { m_session.bootStarted() };
    auto parsed = parseCommand(text, phase);
    if (!parsed) {
        sendError(response, refused, parsed.error());
        return;
    }
    if (!*parsed) {
        sendError(response, refused, "no command: the text is empty or only a comment");
        return;
    }
    if (isCheckCommand(**parsed)) {
        sendError(response, refused, "expect is a check for scenario files; the device runs commands");
        return;
    }
    if (auto* wait = std::get_if<Wait>(&**parsed);
        wait && m_session.realTime() && wait->nanoseconds > longestRealTimeWait) {
        sendError(response, refused, "in real time a wait holds the device: wait at most 10 seconds at a time");
        return;
    }
    auto result = m_session.run(**parsed, text);
    if (!result.outcome.ok()) {
        sendError(response, refused, result.outcome.error());
        return;
    }
    // The answer carries the state the command left, so a page draws it without asking again.
    sendJson(response, 200,
        OrderedJson {
            { "ok", true }, { "events", timelineLines(result.events) }, { "state", sessionStateJson(m_session) } });
}

void SimulatorServer::pane(httplib::Response& response)
{
    std::vector<PaneRow> rows;
    if (auto listed = m_session.withPane([&](SettingsHost::SettingsPane& pane) { rows = paneListing(pane); });
        !listed) {
        sendError(response, 500, listed.error());
        return;
    }
    sendJson(response, 200, paneJson(rows));
    // Drawing the pane's cells leaves freed memory behind that the server would keep.
    ::malloc_trim(0);
}

void SimulatorServer::paneImage(httplib::Response& response)
{
    char path[] = "/tmp/kestrel-pane.XXXXXX.png";
    int descriptor = ::mkstemps(path, 4);
    if (descriptor < 0) {
        sendError(response, 500, "cannot make a file to draw the pane into");
        return;
    }
    ::close(descriptor);
    Platform::Expected<void> drawn;
    if (auto used
        = m_session.withPane([&](SettingsHost::SettingsPane& pane) { drawn = SettingsHost::renderPane(pane, path); });
        !used)
        drawn = used;
    std::ostringstream bytes;
    if (drawn) {
        std::ifstream image(path, std::ios::binary);
        bytes << image.rdbuf();
    }
    ::unlink(path);
    ::malloc_trim(0);
    if (!drawn) {
        sendError(response, 500, drawn.error());
        return;
    }
    response.set_content(bytes.str(), "image/png");
}

void SimulatorServer::recording(httplib::Response& response)
{
    SessionRecord record;
    record.realTime = m_session.realTime();
    record.setUp = m_setUp;
    record.commands = m_session.acceptedCommands();
    record.finalState = m_session.state();
    record.events = m_feed.all();
    response.set_content(recordScenario(record), "text/plain; charset=utf-8");
    response.set_header("Content-Disposition", "attachment; filename=\"kestrel-session.scenario\"");
}

void SimulatorServer::events(TimelineFeed& feed, const httplib::Request& request, httplib::Response& response)
{
    // A browser that reconnects says where it left off; a place this session never
    // reached was in an earlier server's session, and this one's timeline starts over.
    auto last = std::make_shared<uint64_t>(0);
    if (auto given = header(request, "Last-Event-ID")) {
        auto number = Device::parseInteger(*given);
        *last = number && *number > 0 && uint64_t(*number) <= feed.lastSequence() ? uint64_t(*number) : 0;
    }
    auto first = std::make_shared<bool>(true);
    response.set_chunked_content_provider("text/event-stream", [&feed, last, first](size_t, httplib::DataSink& sink) {
        auto messages = feed.waitAfter(*last, *first ? std::chrono::milliseconds(0) : streamHeartbeat);
        if (feed.stopped()) {
            sink.done();
            return true;
        }
        std::string chunk = *first ? "retry: 1000\n\n" : "";
        *first = false;
        for (auto& message : messages) {
            chunk += streamMessage(message);
            *last = message.sequence;
        }
        if (chunk.empty())
            chunk = ": idle\n\n";
        return sink.write(chunk.data(), chunk.size());
    });
}

} // namespace Kestrel
