#include "platform/uikit/UIApplication.h"

#include "platform/trace/Timeline.h"
#include "platform/uikit/NSURL.h"

namespace UIKit {

namespace {

const Runtime::ClassReference s_applicationClass("UIApplication");

} // namespace

Runtime::Class* UIApplication::runtimeClass() { return s_applicationClass.get(); }

Runtime::RefPtr<UIApplication> UIApplication::sharedApplication()
{
    static std::mutex lock;
    static auto* shared = new Runtime::RefPtr<UIApplication>;
    std::lock_guard guard(lock);
    // A registry reset leaves the old instance with a forgotten class: make a new one.
    if (!*shared || Runtime::objectGetClass(shared->get()) != runtimeClass())
        *shared = Runtime::makeInstance<UIApplication>(runtimeClass());
    return *shared;
}

bool UIApplication::openURL(NSURL* url)
{
    if (!url)
        return false;
    {
        std::lock_guard guard(m_lock);
        m_openedURLs.push_back(url->string());
    }
    Platform::timeline("open-url " + url->string());
    return true;
}

void UIApplication::openURLOptionsCompletionHandler(NSURL* url, Runtime::Object*, Runtime::Object* completion)
{
    Runtime::send<bool>(this, "openURL:", url);
    if (auto* block = dynamic_cast<Runtime::NSBlock*>(completion))
        block->invoke();
}

std::vector<std::string> UIApplication::openedURLs() const
{
    std::lock_guard guard(m_lock);
    return m_openedURLs;
}

} // namespace UIKit
