#include "tools/kestrel/SettingsCommand.h"

#include "host/device/DeviceLayout.h"
#include "host/device/Words.h"
#include "host/settings/PaneRenderer.h"
#include "host/settings/SettingsPane.h"
#include "platform/fs/DeviceRoot.h"
#include "platform/notify/Notify.h"
#include "platform/uikit/UIKit.h"
#include "tools/kestrel/PaneListing.h"
#include "tools/kestrel/StandardErrorRelay.h"
#include "tools/kestrel/scenario/CommandParser.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

namespace Kestrel {

namespace {

constexpr const char* usageText = "usage: kestrel settings DIR list | set KEY VALUE | tap ACTION | render OUT.png\n";

int fail(const std::string& message)
{
    std::fprintf(stderr, "kestrel: %s\n", message.c_str());
    return 2;
}

// A row's new value as typed on the command line: yes or no (true/false and on/off
// too), a number, "text", and any other word as the text it is.
Platform::Plist::Value commandLineValue(const std::string& word)
{
    using Platform::Plist::Value;
    if (word == "true" || word == "on")
        return Value::boolean(true);
    if (word == "false" || word == "off")
        return Value::boolean(false);
    std::string ignored;
    if (auto value = parseValue(word, ignored); value && *value)
        return **value;
    return Value::string(Device::unquote(word));
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
            std::printf("%s\t%s\t%s\t%s\n", row.type.c_str(), quoted(row.label).c_str(), row.key.value_or("-").c_str(),
                row.holdsValue ? SettingsHost::displayValue(row.value).c_str() : "-");
        }
    }
    return 0;
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
    std::string error;
    auto pane = SettingsHost::SettingsPane::open(error);
    if (!pane)
        return fail(error);

    if (action == "list")
        return list(*pane);
    if (action == "set") {
        if (auto problem = pane->setValue(arguments[2], commandLineValue(arguments[3])))
            return fail(*problem);
        Platform::drainNotifyDeliveries();
        return 0;
    }
    if (action == "tap") {
        if (auto problem = pane->tap(arguments[2]))
            return fail(*problem);
        for (auto& url : UIKit::UIApplication::shared().openedURLs())
            std::printf("opened %s\n", url.c_str());
        return 0;
    }
    if (auto problem = SettingsHost::renderPane(*pane, arguments[2]))
        return fail(*problem);
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
