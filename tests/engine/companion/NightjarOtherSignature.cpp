// A companion library of another version, which the engine tests install in place of the
// real one: its window class has the four methods, but handleTapFrom: answers a BOOL.
#include "platform/trace/Timeline.h"
#include "runtime/Runtime.h"

using namespace Runtime;

namespace {

class PloverAlwaysOnWindow final : public NSObject {
public:
    bool handleTapFrom(Object*)
    {
        Platform::timeline("aod tap");
        return true;
    }
    void handleDoubleTapFrom(Object*) { Platform::timeline("aod double-tap"); }
    void hide() { Platform::timeline("aod hide"); }
    void postHideSettings() { Platform::timeline("aod post-hide"); }
};

void registerAlwaysOnWindow()
{
    if (getClass("PloverAlwaysOnWindow"))
        return;
    ClassBuilder<PloverAlwaysOnWindow>("PloverAlwaysOnWindow", "NSObject")
        .method<&PloverAlwaysOnWindow::handleTapFrom>("handleTapFrom:")
        .method<&PloverAlwaysOnWindow::handleDoubleTapFrom>("handleDoubleTapFrom:")
        .method<&PloverAlwaysOnWindow::hide>("hide")
        .method<&PloverAlwaysOnWindow::postHideSettings>("postHideSettings");
}

// Registered once, at load, and not again after a registry reset, so that the tests that
// follow in the same process meet the real companion, never this one.
__attribute__((constructor)) void otherSignatureLoad() { registerAlwaysOnWindow(); }

} // namespace
