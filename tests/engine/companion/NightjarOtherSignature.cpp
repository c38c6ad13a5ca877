// A companion library of another version, which the engine tests install in place of the
// real one: its window class has the four methods, but handleTapFrom: answers a BOOL.
#include "platform/trace/Timeline.h"
#include "runtime/CxxClass.h"

namespace {

class PloverAlwaysOnWindow {
public:
    bool handleTapFrom(id)
    {
        Platform::timeline("aod tap");
        return true;
    }
    void handleDoubleTapFrom(id) { Platform::timeline("aod double-tap"); }
    void hide() { Platform::timeline("aod hide"); }
    void postHideSettings() { Platform::timeline("aod post-hide"); }
};

__attribute__((constructor)) void otherSignatureLoad()
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
