// kestrel serve: boots a device and serves its simulator page until Ctrl-C or SIGTERM.
#pragma once

#include <string>

namespace Kestrel {

struct ServeOptions {
    int port { 8340 }; // 0: any free port
    bool realTime { true };
    // A stock device beside this one, driven by the same controls; removed on exit.
    bool compare { false };
};

// root: an existing device, its real path. The exit status: 0 after a stop by signal.
int serveDevice(const std::string& root, const ServeOptions&);

} // namespace Kestrel
