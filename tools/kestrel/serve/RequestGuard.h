// The rules every request to the simulator's server meets before a handler sees it.
// The server listens on 127.0.0.1 only, and a browser's page from elsewhere must not
// drive the device: a Host other than the server's own (DNS rebinding) is refused, and
// a POST must be JSON (which a cross-site form cannot send) from the page's own origin,
// and its body's length must be known before it is read.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace Kestrel {

struct RequestFacts {
    std::string method;
    std::optional<std::string> host;
    std::optional<std::string> origin;
    std::optional<std::string> contentType;
    size_t hostHeaders { 1 }; // how many Host headers the request has
    bool transferEncoded { false }; // a body sent in chunks, its length known only at its end
};

struct Refusal {
    int status { 403 };
    std::string error; // one line
};

// Nullopt when the request may go on to its handler.
std::optional<Refusal> refuseRequest(const RequestFacts&, int port);

} // namespace Kestrel
