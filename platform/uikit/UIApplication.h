// UIApplication: the app object. Opening a URL is recorded and reported on the timeline
// ("open-url URL") instead of leaving the app.
#pragma once

#include "runtime/Runtime.h"

#include <mutex>
#include <string>
#include <vector>

namespace UIKit {

class NSURL;

class UIApplication final : public Runtime::NSObject {
public:
    static Runtime::Class* runtimeClass();

    // One per process (a registry reset makes a fresh one).
    static Runtime::RefPtr<UIApplication> sharedApplication();

    // YES for a URL, NO for nil.
    bool openURL(NSURL*);
    // The newer form; the completion handler, an NSBlock if any, runs at once.
    void openURLOptionsCompletionHandler(NSURL*, Runtime::Object* options, Runtime::Object* completion);
    bool canOpenURL(NSURL* url) const { return url; }

    // Every URL opened so far, oldest first.
    std::vector<std::string> openedURLs() const;

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_openedURLs;
};

} // namespace UIKit
