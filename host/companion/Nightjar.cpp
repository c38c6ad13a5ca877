// The companion always-on-display library. Loading it defines the window class
// PloverAlwaysOnWindow in the runtime; its four methods only report that they ran.
#include "platform/trace/Timeline.h"
#include "runtime/CxxClass.h"

namespace {

class PloverAlwaysOnWindow {
public:
    void handleTapFrom(id) { Platform::timeline("aod tap"); }
    void handleDoubleTapFrom(id) { Platform::timeline("aod double-tap"); }
    void hide() { Platform::timeline("aod hide"); }
    void postHideSettings() { Platform::timeline("aod post-hide"); }
};

__attribute__((constructor)) void nightjarLoad()
{
    if (ObjC::getClass("PloverAlwaysOnWindow"))
        return;
    ObjC::CxxClass<PloverAlwaysOnWindow>::define("PloverAlwaysOnWindow", ObjC::getClass("NSObject"))
        .method<&PloverAlwaysOnWindow::handleTapFrom>("handleTapFrom:")
        .method<&PloverAlwaysOnWindow::handleDoubleTapFrom>("handleDoubleTapFrom:")
        .method<&PloverAlwaysOnWindow::hide>("hide")
        .method<&PloverAlwaysOnWindow::postHideSettings>("postHideSettings")
        .registerClass();
}

} // namespace
