#include "tools/kestrel/serve/RequestGuard.h"

#include <cctype>

namespace Kestrel {

namespace {

std::string lowercase(std::string text)
{
    for (char& character : text)
        character = char(std::tolower(static_cast<unsigned char>(character)));
    return text;
}

std::string trimmed(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

} // namespace

std::optional<Refusal> refuseRequest(const RequestFacts& request, int port)
{
    std::string suffix = ":" + std::to_string(port);
    // Host names are not case-sensitive; the port is part of the origin.
    std::string host = lowercase(request.host.value_or(""));
    if (request.hostHeaders > 1)
        return Refusal { 400, "a request names one Host" };
    if (host != "127.0.0.1" + suffix && host != "localhost" + suffix)
        return Refusal { 403, "this server answers only to 127.0.0.1" + suffix + " and localhost" + suffix };
    if (request.method == "GET" || request.method == "HEAD")
        return std::nullopt;
    if (request.method != "POST")
        return Refusal { 405, request.method + " is not a method this server takes (GET or POST)" };

    std::string mediaType
        = lowercase(trimmed(request.contentType.value_or("").substr(0, request.contentType.value_or("").find(';'))));
    if (mediaType != "application/json")
        return Refusal { 403, "a POST must be application/json" };
    if (request.origin && lowercase(*request.origin) != "http://" + host)
        return Refusal { 403, "a POST must come from the simulator page's own origin (http://" + host + ")" };
    // A chunked body's size is known only once it has all been read.
    if (request.transferEncoded)
        return Refusal { 411, "a POST's body must come with its length (Content-Length), not in chunks" };
    return std::nullopt;
}

} // namespace Kestrel
