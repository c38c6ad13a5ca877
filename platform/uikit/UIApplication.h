// UIApplication: the app object. Opening a URL is recorded and reported on the timeline
// ("open-url URL") instead of leaving the app.
#pragma once

#include "runtime/ObjC.h"

#include <mutex>
#include <string>
#include <vector>

namespace UIKit {

// The C++ side of the UIApplication instance.
class UIApplication {
public:
    static Class runtimeClass();

    // The one application object of the process, made on first use.
    static id sharedApplication();
    static UIApplication& shared();

    // YES for a URL (an NSURL, opened as its absoluteString), NO for nil or a URL with no text.
    bool openURL(id url);
    // The newer form; the completion handler, a block if any, runs at once with YES.
    void openURLOptionsCompletionHandler(id url, id options, id completion);
    bool canOpenURL(id url) const { return url; }

    // Every URL opened so far, oldest first.
    std::vector<std::string> openedURLs() const;

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_openedURLs;
};

} // namespace UIKit
