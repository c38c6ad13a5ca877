#include "tools/kestrel/SettingsCommand.h"

#include "host/device/DeviceLayout.h"
#include "host/device/Words.h"
#include "host/settings/PaneRenderer.h"
#include "host/settings/SettingsPane.h"
#include "platform/fs/DeviceRoot.h"
#include "platform/notify/Notify.h"
#include "platform/process/DeviceProcesses.h"
#include "platform/uikit/UIKit.h"
#include "tools/kestrel/PaneListing.h"
#include "tools/kestrel/StandardErrorRelay.h"
#include "tools/kestrel/scenario/CommandParser.h"

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace Kestrel {

namespace {

constexpr const char* usageText = "usage: kestrel settings DIR list | set KEY VALUE | tap ACTION | render OUT.png\n";

int fail(const std::string& message)
{
    std::fprintf(stderr, "kestrel: %s\n", Device::printable(message).c_str());
    return 2;
}

std::string quoted(const std::optional<std::string>& text) { return Device::quotedWord(text.value_or("")); }

int list(SettingsHost::SettingsPane& pane)
{
    for (auto& row : paneListing(pane)) {
        if (row.type == "header" || row.type == "footer")
            std::printf("%s\t%s\t%s\n", row.type.c_str(), row.viewClass.c_str(), quoted(row.viewText).c_str());
        else if (row.type == "group")
            std::printf("group\t%s\t-\t-\n", quoted(row.label).c_str());
        else if (row.type == "button")
            std::printf("button\t%s\t%s\t-\n", quoted(row.label).c_str(), row.action.value_or("-").c_str());
        else {
            auto shown = row.holdsValue ? shownValue(row) : ShownValue { "-", {} };
            std::printf("%s\t%s\t%s\t%s%s%s\n", row.type.c_str(), quoted(row.label).c_str(),
                row.key.value_or("-").c_str(), shown.text.c_str(), shown.note.empty() ? "" : "\t", shown.note.c_str());
        }
    }
    return 0;
}

// The pids of the device's running SpringBoard.
std::vector<pid_t> springBoards(const std::string& root)
{
    std::vector<pid_t> pids;
    for (auto& process : Platform::processesOfDevice(root)) {
        if (process.executable == root + Device::Paths::springBoard)
            pids.push_back(process.pid);
    }
    return pids;
}

// What the restart button did: a booted device's SpringBoard is killed and started again,
// which is waited for (5 s at most); a device that is not booted has nothing to restart.
std::string restartOutcome(const std::string& root, const std::vector<pid_t>& before)
{
    if (before.empty())
        return "posted the restart notification; the device is not booted, so nothing restarted";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        auto now = springBoards(root);
        if (!now.empty() && now != before)
            return "posted the restart notification; SpringBoard restarted";
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return "posted the restart notification; SpringBoard did not restart within 5 s";
}

} // namespace

namespace {

int runSettingsAction(const std::vector<std::string>& arguments)
{
    if (arguments.size() < 2) {
        std::fputs(usageText, stderr);
        return 2;
    }
    const auto& directory = arguments[0];
    const auto& action = arguments[1];
    size_t expected = action == "list" ? 2 : action == "set" ? 4 : action == "tap" || action == "render" ? 3 : 0;
    if (!expected || arguments.size() != expected) {
        std::fputs(usageText, stderr);
        return 2;
    }
    char resolved[PATH_MAX];
    if (!::realpath(directory.c_str(), resolved) || !Device::isDevice(resolved))
        return fail(directory + " is not a device (make one with: kestrel init " + directory + ")");
    std::string root = resolved;
    Platform::setDeviceRoot(root);
    SettingsHost::configureScreenFromDevice();

    ObjC::AutoreleasePool pool;
    auto opened = SettingsHost::SettingsPane::open();
    if (!opened)
        return fail(opened.error());
    auto& pane = *opened;

    if (action == "list")
        return list(*pane);
    if (action == "set") {
        if (auto set = pane->setValue(arguments[2], arguments[3]); !set)
            return fail(set.error());
        Platform::drainNotifyDeliveries();
        return 0;
    }
    if (action == "tap") {
        auto before = springBoards(root);
        if (auto tapped = pane->tap(arguments[2]); !tapped)
            return fail(tapped.error());
        for (auto& url : UIKit::UIApplication::shared().openedURLs())
            std::printf("opened %s\n", url.c_str());
        if (arguments[2] == "respring")
            std::printf("%s\n", restartOutcome(root, before).c_str());
        return 0;
    }
    if (auto drawn = SettingsHost::renderPane(*pane, arguments[2]); !drawn)
        return fail(drawn.error());
    std::printf("drew the pane into %s\n", arguments[2].c_str());
    return 0;
}

} // namespace

int runSettingsCommand(const std::vector<std::string>& arguments)
{
    StandardErrorRelay relay;
    return runSettingsAction(arguments);
}

} // namespace Kestrel
