#include "tools/kestrel/scenario/PaneDriver.h"

#include "host/settings/PaneRenderer.h"

namespace Kestrel {

Platform::Expected<void> usePane(const std::function<void(SettingsHost::SettingsPane&)>& work)
{
    SettingsHost::configureScreenFromDevice();
    // The pane's objects live in this pool: it may be a thread of a server that runs Foundation
    // code nowhere else.
    ObjC::AutoreleasePool pool;
    auto pane = SettingsHost::SettingsPane::open();
    if (!pane)
        return pane.failure();
    work(**pane);
    return {};
}

Platform::Expected<void> paneSet(const std::string& key, const std::string& word)
{
    Platform::Expected<void> done;
    if (auto used = usePane([&](SettingsHost::SettingsPane& pane) { done = pane.setValue(key, word); }); !used)
        return used;
    return done;
}

Platform::Expected<void> paneTap(const std::string& action)
{
    Platform::Expected<void> done;
    if (auto used = usePane([&](SettingsHost::SettingsPane& pane) { done = pane.tap(action); }); !used)
        return used;
    return done;
}

} // namespace Kestrel
