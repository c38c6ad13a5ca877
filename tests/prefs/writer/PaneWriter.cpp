// A second Settings app for the pane's concurrency tests: `paneWriter ROOT PREFIX COUNT`
// makes COUNT changes on the device at ROOT through the pane's own write path, one new key
// each (PREFIX-0 = 0, PREFIX-1 = 1, ...), prints how long its longest write took, and exits 0.
#include "platform/fs/DeviceRoot.h"
#include "platform/preferences/PSSpecifier.h"
#include "runtime/ObjC.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

using namespace ObjC;

int main(int argc, char** argv)
{
    AutoreleasePool pool;
    int count = 0;
    std::string_view countText = argc == 4 ? argv[3] : "";
    if (argc != 4 || std::from_chars(countText.data(), countText.data() + countText.size(), count).ec != std::errc()) {
        std::fprintf(stderr, "usage: paneWriter ROOT PREFIX COUNT\n");
        return 2;
    }
    Platform::setDeviceRoot(argv[1]);
    Class controllerClass = getClass("kestrelprefsRootListController");
    if (!controllerClass) {
        std::fprintf(stderr, "paneWriter: the pane's controller is not registered\n");
        return 1;
    }
    RetainPtr controller = allocInit(controllerClass);
    std::chrono::steady_clock::duration longest {};
    for (int index = 0; index < count; ++index) {
        AutoreleasePool perWrite;
        auto start = std::chrono::steady_clock::now();
        std::string key = std::string(argv[2]) + "-" + std::to_string(index);
        id properties = send<id>(getClass("NSMutableDictionary"), sel("dictionary"));
        send(properties, sel("setObject:forKey:"), string(key.c_str()), string("key"));
        id specifier = Preferences::PSSpecifier::create(properties, controller);
        send(controller, sel("setPreferenceValue:specifier:"), number(static_cast<long long>(index)), specifier);
        longest = std::max(longest, std::chrono::steady_clock::now() - start);
    }
    std::printf("longest write %lld ms\n",
        static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(longest).count()));
    return 0;
}
