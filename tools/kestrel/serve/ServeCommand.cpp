#include "tools/kestrel/serve/ServeCommand.h"

#include "host/device/DeviceLayout.h"
#include "platform/plist/PropertyList.h"
#include "tools/kestrel/PaneListing.h"
#include "tools/kestrel/serve/SessionRecording.h"
#include "tools/kestrel/serve/SimulatorServer.h"
#include "tools/kestrel/serve/StockDevice.h"
#include "tools/kestrel/serve/TimelineFeed.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Kestrel {

namespace {

// Signals reach the serving thread through a pipe: the handler only writes a byte. (A
// blocked signal mask would be inherited by SpringBoard, which must stay killable.)
int s_wakePipe[2] = { -1, -1 };

void wake(int)
{
    int saved = errno;
    char byte = 1;
    [[maybe_unused]] auto written = ::write(s_wakePipe[1], &byte, 1);
    errno = saved;
}

int fail(const std::string& message)
{
    std::fprintf(stderr, "kestrel: %s\n", message.c_str());
    return 2;
}

// What the page's sentences read of the device: its settings file, and whether it loads the engine.
EventNarrator::Sources narratorSources(const std::string& root)
{
    EventNarrator::Sources sources;
    sources.settings = [root]() -> std::optional<Platform::Plist::Dictionary> {
        auto file = Platform::Plist::readFile(root + Device::Paths::settingsFile);
        if (!file.ok() || !file.value.asDictionary())
            return std::nullopt;
        return *file.value.asDictionary();
    };
    sources.engineInstalled = [root] {
        struct stat status;
        return ::stat(Device::jailbreakHostPath(root, Device::JailbreakPaths::engineLibrary).c_str(), &status) == 0;
    };
    return sources;
}

// The pane's labels of the settings keys; none on a device without the pane.
std::map<std::string, std::string> paneLabels(DeviceSession& session)
{
    std::map<std::string, std::string> labels;
    // A device without the pane has no labels.
    [[maybe_unused]] auto listed = session.withPane([&](SettingsHost::SettingsPane& pane) {
        for (auto& row : paneListing(pane)) {
            if (row.key && row.label)
                labels[*row.key] = *row.label;
        }
    });
    ::malloc_trim(0);
    return labels;
}

} // namespace

int serveDevice(const std::string& root, const ServeOptions& options)
{
    if (::pipe2(s_wakePipe, O_CLOEXEC) != 0)
        return fail("cannot make a pipe for signals");
    struct sigaction action { };
    action.sa_handler = wake;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    // The server's threads come and go through one pool; more malloc arenas than this
    // only keep more freed memory resident.
    ::mallopt(M_ARENA_MAX, 2);

    // What a fresh device needs to replay this session, as the device is before boot.
    auto setUp = deviceSetUp(root);
    auto opened = DeviceSession::open(root, { options.realTime });
    if (!opened)
        return fail(opened.error());
    auto& session = *opened;
    TimelineFeed feed(*session, narratorSources(root));
    std::unique_ptr<StockDevice> stock;
    if (options.compare) {
        auto started = StockDevice::start(Device::schemeOf(root), options.realTime);
        if (!started)
            return fail(started.error());
        stock = std::move(*started);
    }
    SimulatorServer server(*session, feed, std::move(setUp), stock.get());
    auto port = server.bind(options.port);
    if (!port)
        return fail(port.error());
    auto booted = session->run(Boot {}, "boot");
    if (!booted.outcome.ok())
        return fail(booted.outcome.error());
    feed.setLabels(paneLabels(*session));

    std::atomic<bool> endedByItself { false };
    server.start([&] {
        endedByItself = true;
        wake(0);
    });
    std::printf("Serving the device at %s on http://127.0.0.1:%d/ (%s time; Ctrl-C stops)\n", root.c_str(), *port,
        options.realTime ? "real" : "virtual");
    if (stock)
        std::printf("Beside it, a stock device at %s (removed on exit)\n", stock->root().c_str());
    std::fflush(stdout);

    char byte = 0;
    while (::read(s_wakePipe[0], &byte, 1) < 0 && errno == EINTR) { }
    // A command under way (a wait of seconds) must not hold the stop up.
    session->interrupt();
    server.stop();
    if (stock)
        stock->stop();
    session->shutdown();
    if (endedByItself)
        return fail("the server stopped listening");
    return 0;
}

} // namespace Kestrel
