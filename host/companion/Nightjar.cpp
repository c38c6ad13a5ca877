// The companion always-on-display library. Loading it defines the window class
// PloverAlwaysOnWindow; its four methods only report that they ran.
#include "platform/trace/Timeline.h"
#include "runtime/Runtime.h"

using namespace Runtime;

namespace {

class PloverAlwaysOnWindow final : public NSObject {
public:
    void handleTapFrom(Object*) { Platform::timeline("aod tap"); }
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

__attribute__((constructor)) void nightjarLoad() { addClassRegistrar(&registerAlwaysOnWindow); }

} // namespace
