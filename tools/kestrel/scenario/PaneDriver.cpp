#include "tools/kestrel/scenario/PaneDriver.h"

#include "host/settings/PaneRenderer.h"
#include "host/settings/SettingsPane.h"

namespace Kestrel {

std::optional<std::string> paneSet(const std::string& key, const Platform::Plist::Value& value)
{
    SettingsHost::configureScreenFromDevice();
    std::string error;
    auto pane = SettingsHost::SettingsPane::open(error);
    if (!pane)
        return error;
    return pane->setValue(key, value);
}

std::optional<std::string> paneTap(const std::string& action)
{
    SettingsHost::configureScreenFromDevice();
    std::string error;
    auto pane = SettingsHost::SettingsPane::open(error);
    if (!pane)
        return error;
    return pane->tap(action);
}

} // namespace Kestrel
