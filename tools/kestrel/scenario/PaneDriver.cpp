#include "tools/kestrel/scenario/PaneDriver.h"

#include "host/settings/PaneRenderer.h"

namespace Kestrel {

std::optional<std::string> usePane(const std::function<void(SettingsHost::SettingsPane&)>& work)
{
    SettingsHost::configureScreenFromDevice();
    // The pane's objects live in this pool: it may be a thread of a server that runs Foundation
    // code nowhere else.
    ObjC::AutoreleasePool pool;
    std::string error;
    auto pane = SettingsHost::SettingsPane::open(error);
    if (!pane)
        return error;
    work(*pane);
    return std::nullopt;
}

std::optional<std::string> paneSet(const std::string& key, const std::string& word)
{
    std::optional<std::string> problem;
    if (auto error = usePane([&](SettingsHost::SettingsPane& pane) { problem = pane.setValue(key, word); }))
        return error;
    return problem;
}

std::optional<std::string> paneTap(const std::string& action)
{
    std::optional<std::string> problem;
    if (auto error = usePane([&](SettingsHost::SettingsPane& pane) { problem = pane.tap(action); }))
        return error;
    return problem;
}

} // namespace Kestrel
